#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class fSeleFileSavePath;
}

namespace lintbay {

class GuiContext;

// Asks where the next downloads go and how their files are named. Confirming stores the folder
// as the default save folder and in the folder history; any other way out counts as cancelled.
// The outcome is left in the program-wide values (SaveDialogCancelled, NameFromLink).
class fSeleFileSavePath : public QDialog
{
    Q_OBJECT
public:
    explicit fSeleFileSavePath(GuiContext& context, QWidget* parent = nullptr);
    ~fSeleFileSavePath() override;

    // Shows the dialog modally; true when the user confirmed a folder.
    static bool ask(GuiContext& context, QWidget* parent = nullptr);

public slots:
    void reject() override;

private:
    void Command1_Click();
    void Command2_Click();

    GuiContext& m_context;
    std::unique_ptr<Ui::fSeleFileSavePath> ui;
};

} // namespace lintbay
