// Command numbers and the texts of the shell: menu items, status-bar prompts,
// toolbar tooltips. The processing commands carry their own texts in the
// command table (document/commands/command_table.h).
#pragma once

namespace ids {

inline constexpr int kFitToWindow = 32771;
inline constexpr int kHistogram = 32785;
inline constexpr int kFileNew = 57600;
inline constexpr int kFileOpen = 57601;
inline constexpr int kFileClose = 57602;
inline constexpr int kFileSaveAs = 57604;
inline constexpr int kWindowCascade = 57650;
inline constexpr int kWindowTile = 57651;
inline constexpr int kAppAbout = 57664;
inline constexpr int kAppExit = 57665;
inline constexpr int kViewToolbar = 59392;
inline constexpr int kViewStatusBar = 59393;

}  // namespace ids

namespace strings {

inline constexpr char kAppName[] = "Lumivex";  // title of the main window, message boxes, settings
inline constexpr char kCompany[] = "Local AppWizard-Generated Applications";
inline constexpr char kDocName[] = "Lumiv";  // untitled documents: Lumiv1, Lumiv2, ...
inline constexpr char kReady[] = "Ready";
inline constexpr int kTimePaneChars = 51;  // pane 1 is as wide as this many spaces
inline constexpr int kRecentFileCount = 5;

}  // namespace strings

// One shell command: its number, menu text (with mnemonic and the key shown
// after a tab), status-bar prompt and toolbar tooltip (empty: none).
struct ShellCommand {
    int id;
    const char* item;
    const char* prompt;
    const char* tooltip;
};

inline constexpr ShellCommand kShellCommands[] = {
    {ids::kFileNew, "", "Create a new document", "New"},
    {ids::kFileOpen, "&Open...\tCtrl+O", "Open an existing image", "Open"},
    {ids::kFileClose, "&Close", "Close the active image", "Close"},
    {ids::kFileSaveAs, "Save &As...\tCtrl+S", "Save the active image with a new name", "Save As"},
    {ids::kAppExit, "E&xit", "Quit the application", "Exit"},
    {ids::kViewToolbar, "&Toolbar", "Show or hide the toolbar", "Toggle ToolBar"},
    {ids::kViewStatusBar, "&Status Bar", "Show or hide the status bar", "Toggle StatusBar"},
    {ids::kHistogram, "&Histogram", "Show or hide the histogram", ""},
    {ids::kFitToWindow, "&Fit image to window", "Fit image to window", ""},
    {ids::kWindowCascade, "&Cascade", "Arrange windows so they overlap", "Cascade Windows"},
    {ids::kWindowTile, "&Tile", "Arrange windows as non-overlapping tiles", "Tile Windows"},
    {ids::kAppAbout, "&About Lumivex...", "Display program information, version number and copyright", "About"},
};
