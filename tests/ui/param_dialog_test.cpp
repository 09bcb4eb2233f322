// The ten parameter dialogs: layout from the command table, defaults, reading
// and range checks with their messages, focus after a failure.
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "document/dialog_units.h"
#include "tests/ui/ui_test_support.h"

namespace {

std::vector<const CommandSpec*> DialogCommands()
{
    std::vector<const CommandSpec*> commands;
    for (const CommandSpec& command : Commands())
        if (command.dialog)
            commands.push_back(&command);
    return commands;
}

QLineEdit* Edit(CParamDialog& dialog, int id)
{
    return qobject_cast<QLineEdit*>(dialog.Control(id));
}

}  // namespace

class ParamDialogTest : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { SetMessageHandler({}); }

    void tenDialogsWithTheirCaptions()
    {
        const std::vector<const CommandSpec*> commands = DialogCommands();
        QCOMPARE(commands.size(), std::size_t(10));
        QStringList captions;
        for (const CommandSpec* command : commands) {
            CParamDialog dialog(*command);
            captions.append(dialog.windowTitle());
        }
        captions.sort();
        QCOMPARE(captions, (QStringList{"AHE", "CLHE", "Gamma correction", "JGACE", "Lowpass Filtering", "StretchDLG", "TAHE",
                                        "TGHE", "Three Channel Filtering", "Unsharp Masking"}));
    }

    void geometryComesFromDialogUnits()
    {
        for (const CommandSpec* command : DialogCommands()) {
            CParamDialog dialog(*command);
            const CDialogUnits units(dialog.font());
            QVERIFY(units.BaseX() > 0 && units.BaseY() > 0);
            QCOMPARE(dialog.size(), QSize(units.X(command->dialog->width), units.Y(command->dialog->height)));
            QCOMPARE(dialog.minimumSize(), dialog.maximumSize());  // not sizable
            // Every control sits where its template puts it, labels with their texts.
            const QList<QWidget*> children = dialog.findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly);
            QCOMPARE(children.size(), qsizetype(command->dialog->controls.size()));
            for (qsizetype i = 0; i < children.size(); ++i) {
                const DialogControl& control = command->dialog->controls[i];
                const QRect expected = units.Rect(control.x, control.y, control.width, control.height);
                const QRect actual = children[i]->geometry();
                if (control.kind == DialogControl::Kind::Label || control.kind == DialogControl::Kind::CheckBox) {
                    // Texts are never cut: a label may be wider than its template, never narrower.
                    QCOMPARE(actual.topLeft(), expected.topLeft());
                    QCOMPARE(actual.height(), expected.height());
                    QCOMPARE(actual.width(), std::max(expected.width(), children[i]->sizeHint().width()));
                } else {
                    QCOMPARE(actual, expected);
                }
                if (auto* label = qobject_cast<QLabel*>(children[i]))
                    QCOMPARE(label->text(), QString::fromUtf8(control.text.data(), control.text.size()));
            }
            // A widened label still keeps clear of the fields and buttons.
            for (QLabel* label : dialog.findChildren<QLabel*>())
                for (QWidget* other : children)
                    if (!qobject_cast<QLabel*>(other))
                        QVERIFY2(!label->geometry().intersects(other->geometry()), qPrintable(label->text()));
        }
    }

    void dialogUnitsScaleWithTheFont()
    {
        QFont font = QApplication::font();
        const CDialogUnits units(font);
        const QFontMetrics metrics(font);
        const int letters = metrics.horizontalAdvance("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
        QCOMPARE(units.BaseX(), (letters / 26 + 1) / 2);
        QCOMPARE(units.BaseY(), metrics.height());
        // Quarter and eighth units, rounded to nearest.
        QCOMPARE(units.X(4), units.BaseX());
        QCOMPARE(units.Y(8), units.BaseY());
        QCOMPARE(units.X(2), (2 * units.BaseX() + 2) / 4);
        QCOMPARE(units.Rect(3, 5, 7, 9).right() + 1, units.X(10));
    }

    void tabOrderFollowsTheTemplateStartingAtOk()
    {
        for (const CommandSpec* command : DialogCommands()) {
            CParamDialog dialog(*command);
            QList<QWidget*> expected;
            for (const DialogControl& control : command->dialog->controls) {
                if (control.kind == DialogControl::Kind::Label)
                    continue;
                expected.append(control.id == 1 ? dialog.OkButton()
                                                : control.id == 2 ? dialog.CancelButton() : dialog.Control(control.id));
            }
            QList<QWidget*> chain;
            QWidget* widget = dialog.OkButton();
            do {
                if (widget->focusPolicy() & Qt::TabFocus)
                    chain.append(widget);
                widget = widget->nextInFocusChain();
            } while (widget != dialog.OkButton() && chain.size() < 50);
            QCOMPARE(chain, expected);
            QCOMPARE(dialog.focusWidget(), static_cast<QWidget*>(dialog.OkButton()));
            QVERIFY(dialog.OkButton()->isDefault());
        }
    }

    void defaultsAreShownInTheFields_data()
    {
        QTest::addColumn<int>("command");
        QTest::addColumn<QList<int>>("controls");
        QTest::addColumn<QStringList>("texts");
        QTest::newRow("stretch") << 32772 << QList<int>{1002} << QStringList{"10"};
        QTest::newRow("gamma") << 32773 << QList<int>{1002} << QStringList{"2.3"};
        QTest::newRow("ahe") << 32775 << QList<int>{1002} << QStringList{"45"};
        QTest::newRow("clhe") << 32776 << QList<int>{1002, 1003} << QStringList{"0.7", "45"};
        QTest::newRow("unsharp") << 32777 << QList<int>{1002, 1003} << QStringList{"35", "2"};
        QTest::newRow("tcf") << 32778 << QList<int>{1002, 1003, 1004, 1005, 1006}
                             << QStringList{"2", "-0.2", "-0.4", "30", "100"};
        QTest::newRow("tahe") << 32781 << QList<int>{1002, 1004} << QStringList{"45", "10"};
        QTest::newRow("tghe") << 32784 << QList<int>{1004} << QStringList{"10"};
        QTest::newRow("lowpass") << 32790 << QList<int>{1002} << QStringList{"25"};
        // JGACE's fields read d, JND0, gamma from top to bottom.
        QTest::newRow("jgace") << 32789 << QList<int>{1002, 1003, 1004} << QStringList{"200", "1", "3"};
    }

    void defaultsAreShownInTheFields()
    {
        QFETCH(int, command);
        QFETCH(QList<int>, controls);
        QFETCH(QStringList, texts);
        CParamDialog dialog(*FindCommand(command));
        for (qsizetype i = 0; i < controls.size(); ++i)
            QCOMPARE(Edit(dialog, controls[i])->text(), texts[i]);
        if (command == 32778) {
            auto* box = qobject_cast<QCheckBox*>(dialog.Control(1026));
            QVERIFY(box && !box->isChecked());
            QCOMPARE(box->text(), QString("Nonlinear contrast stretching"));
        }
        if (command == 32789) {
            QList<int> topToBottom{1002, 1003, 1004};
            std::sort(topToBottom.begin(), topToBottom.end(),
                      [&](int a, int b) { return dialog.Control(a)->y() < dialog.Control(b)->y(); });
            QCOMPARE(topToBottom, (QList<int>{1002, 1003, 1004}));
        }
    }

    void enterAcceptsTheDefaults()
    {
        for (const CommandSpec* command : DialogCommands()) {
            CParamDialog dialog(*command);
            dialog.show();
            QTest::keyClick(&dialog, Qt::Key_Return);
            QCOMPARE(dialog.result(), int(QDialog::Accepted));
            QVERIFY(dialog.Values() == command->Defaults());
        }
    }

    void escapeCancels()
    {
        CParamDialog dialog(*FindCommand(32772));
        dialog.show();
        QTest::keyClick(&dialog, Qt::Key_Escape);
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
        QVERIFY(!dialog.isVisible());
    }

    void everyRunStartsFromTheDefaults()
    {
        const CommandSpec& stretch = *FindCommand(32772);
        {
            CParamDialog first(stretch);
            Edit(first, 1002)->setText("25");
            first.OkButton()->click();
            QCOMPARE(AsInt(first.Values()[0]), 25);
        }
        CParamDialog second(stretch);
        QCOMPARE(Edit(second, 1002)->text(), QString("10"));
    }

    void fieldsAreReadAndChecked_data()
    {
        QTest::addColumn<int>("command");
        QTest::addColumn<int>("control");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("message");  // empty: accepted
        QTest::newRow("stretch 40") << 32772 << 1002 << "40" << "";
        QTest::newRow("stretch 0") << 32772 << 1002 << "0" << "";
        QTest::newRow("stretch blanks") << 32772 << 1002 << " \t12 " << "";
        QTest::newRow("stretch 41") << 32772 << 1002 << "41" << "Please enter an integer between 0 and 40.";
        QTest::newRow("stretch -1") << 32772 << 1002 << "-1" << "Please enter an integer between 0 and 40.";
        QTest::newRow("stretch letters") << 32772 << 1002 << "ten" << "Please enter an integer.";
        QTest::newRow("stretch empty") << 32772 << 1002 << "" << "Please enter an integer.";
        QTest::newRow("gamma 30") << 32773 << 1002 << "30" << "";
        QTest::newRow("gamma 0") << 32773 << 1002 << "0" << "";
        QTest::newRow("gamma 30.5") << 32773 << 1002 << "30.5" << "Please enter a number between 0 and 30.";
        QTest::newRow("gamma letter") << 32773 << 1002 << "x" << "Please enter a number.";
        QTest::newRow("tahe threshold 10") << 32781 << 1004 << "10" << "";
        QTest::newRow("tahe threshold 11") << 32781 << 1004 << "11" << "Please enter an integer between 0 and 10.";
        QTest::newRow("tghe threshold 100") << 32784 << 1004 << "100" << "";
        QTest::newRow("tghe threshold 101") << 32784 << 1004 << "101" << "Please enter an integer between 0 and 100.";
        QTest::newRow("tghe threshold 256") << 32784 << 1004 << "256" << "Please enter an integer between 0 and 255.";
        QTest::newRow("tahe threshold -1") << 32781 << 1004 << "-1" << "Please enter an integer between 0 and 255.";
        QTest::newRow("blow 256") << 32778 << 1005 << "256" << "Please enter an integer between 0 and 255.";
        QTest::newRow("bhi -3") << 32778 << 1006 << "-3" << "Please enter an integer between 0 and 255.";
        QTest::newRow("bhi 255") << 32778 << 1006 << "255" << "";
        QTest::newRow("k1 not a number") << 32778 << 1003 << "-0.2q" << "Please enter a number.";
        QTest::newRow("ahe window any int") << 32775 << 1002 << "-7" << "";
        QTest::newRow("ahe window not int") << 32775 << 1002 << "4.5" << "Please enter an integer.";
        QTest::newRow("clhe alpha any number") << 32776 << 1002 << "7e1" << "";
        QTest::newRow("clhe window") << 32776 << 1003 << "w" << "Please enter an integer.";
        QTest::newRow("unsharp gain") << 32777 << 1003 << "" << "Please enter a number.";
        QTest::newRow("lowpass mask") << 32790 << 1002 << "+9" << "";
        QTest::newRow("jgace d") << 32789 << 1002 << "2OO" << "Please enter an integer.";
        QTest::newRow("jgace gamma") << 32789 << 1004 << "three" << "Please enter a number.";
        QTest::newRow("jgace jnd0") << 32789 << 1003 << "1.0" << "Please enter an integer.";
    }

    void fieldsAreReadAndChecked()
    {
        QFETCH(int, command);
        QFETCH(int, control);
        QFETCH(QString, text);
        QFETCH(QString, message);
        CMessageCapture capture;
        CParamDialog dialog(*FindCommand(command));
        dialog.show();
        QLineEdit* edit = Edit(dialog, control);
        edit->setText(text);
        dialog.OkButton()->click();
        if (message.isEmpty()) {
            QVERIFY(capture.Messages().empty());
            QCOMPARE(dialog.result(), int(QDialog::Accepted));
            return;
        }
        QCOMPARE(capture.Messages().size(), std::size_t(1));
        QCOMPARE(QString::fromStdString(capture.Messages()[0]), message);
        // The dialog stays open with the failing field focused and its text selected.
        QVERIFY(dialog.isVisible());
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
        QCOMPARE(dialog.focusWidget(), static_cast<QWidget*>(edit));
        QCOMPARE(edit->text(), text);
        QCOMPARE(edit->selectedText(), text);
        QVERIFY(dialog.Values() == FindCommand(command)->Defaults());
    }

    void readingStopsAtTheFirstFailure()
    {
        CMessageCapture capture;
        CParamDialog dialog(*FindCommand(32778));
        dialog.show();
        Edit(dialog, 1002)->setText("5");
        Edit(dialog, 1003)->setText("abc");
        Edit(dialog, 1006)->setText("999");
        dialog.OkButton()->click();
        QCOMPARE(capture.Messages(), std::vector<std::string>{"Please enter a number."});
        QCOMPARE(dialog.focusWidget(), dialog.Control(1003));
        QCOMPARE(AsFloat(dialog.Values()[0]), 2.0f);  // nothing is taken from an incomplete pass

        Edit(dialog, 1003)->setText("0.5");
        Edit(dialog, 1006)->setText("200");
        qobject_cast<QCheckBox*>(dialog.Control(1026))->setChecked(true);
        dialog.OkButton()->click();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        const ParamValues values = dialog.Values();
        QCOMPARE(AsFloat(values[0]), 5.0f);
        QCOMPARE(AsFloat(values[1]), 0.5f);
        QCOMPARE(AsBool(values[3]), true);
        QCOMPARE(int(AsByte(values[5])), 200);
    }

    void valuesKeepTheirTypes()
    {
        CParamDialog dialog(*FindCommand(32773));
        Edit(dialog, 1002)->setText("1.5");
        dialog.OkButton()->click();
        QCOMPARE(AsFloat(dialog.Values()[0]), 1.5f);
    }

    void editFieldsAcceptAnyCharacters()
    {
        CParamDialog dialog(*FindCommand(32772));
        dialog.show();
        QLineEdit* edit = Edit(dialog, 1002);
        edit->clear();
        QTest::keyClicks(edit, "a-#%e.9 Z");
        QCOMPARE(edit->text(), QString("a-#%e.9 Z"));
    }
};

QTEST_MAIN(ParamDialogTest)
#include "param_dialog_test.moc"
