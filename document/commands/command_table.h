// The command table: the one place that knows every processing command.
//
// A row holds the command's number, its menu and prompt texts, its parameter
// dialog (caption, geometry, controls), its parameters in the order the dialog
// exchanges and checks them, its title suffix and its operation. The desktop
// menus and dialogs, the shared pipeline and lumivex-cli are all built from it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "core/dib_image.h"
#include "document/commands/parameters.h"

// One control of a dialog template, in template (and tab) order. Positions and
// sizes are in dialog units of the dialogs' 8-point font.
struct DialogControl {
    enum class Kind { DefaultButton, Button, Label, Edit, CheckBox };
    Kind kind;
    int id;                 // 1 OK, 2 Cancel, 1002... fields; -1 for labels
    std::string_view text;  // button and label text, check box text
    int x, y, width, height;
};

struct DialogTemplate {
    int templateId;
    std::string_view className;  // CStretchDlg, ...
    std::string_view caption;
    int width, height;           // dialog units
    std::vector<DialogControl> controls;
};

struct CommandSpec;

// Operation on the working copy. source is the document's own image (read only
// in practice; the combination commands recount its histogram). Returns
// non-zero on success; a refusal has already shown its message.
using CommandOperation = int (*)(CDibImage& work, CDibImage& source, const ParamValues& values);
using TitleSuffix = std::string (*)(const ParamValues& values);

struct CommandSpec {
    int id;                        // command number, e.g. 32772
    std::string_view cliName;      // lumivex-cli command, e.g. "stretch"
    std::string_view menu;         // top-level menu, e.g. "&Global"
    std::string_view item;         // menu item, e.g. "&Contrast stretching"
    std::string_view prompt;       // status-bar prompt
    bool separatorBefore;          // a menu separator precedes the item
    const DialogTemplate* dialog;  // null: the command runs at once
    std::vector<ParamSpec> params; // in exchange and validation order
    TitleSuffix suffix;
    CommandOperation operation;

    ParamValues Defaults() const;
    // Index of the parameter named cliName, or -1.
    int ParamIndex(std::string_view cliName) const;
};

// All fourteen processing commands, in the order of the menus.
const std::vector<CommandSpec>& Commands();

const CommandSpec* FindCommand(int id);
const CommandSpec* FindCommandByCliName(std::string_view cliName);

// The lowpass command's work: the mask-size check, then the box means copied into the image.
int LowpassFilter(CDibImage& work, int maskSize);

// The combination commands (combination_commands.cpp). Each decides from the
// source's histogram whether the image is dark and always succeeds.
bool IsDarkImage(CDibImage& source);
int GrayTghe(CDibImage& work, CDibImage& source);
int TcfTghe(CDibImage& work, CDibImage& source);
int GrayOrTcfTghe(CDibImage& work, CDibImage& source);
