#pragma once

#include <QDialog>
#include <QStringList>

#include <memory>

namespace Ui {
class Form_Copy_Move;
}

namespace lintbay {

class GuiContext;

// Copies a list of files into one folder, with a rule for files of the same name already there,
// a progress bar and "停止". The folder history is the one the save-folder dialog keeps.
class Form_Copy_Move : public QDialog
{
    Q_OBJECT
public:
    explicit Form_Copy_Move(GuiContext& context, QWidget* parent = nullptr);
    ~Form_Copy_Move() override;

    // The files to copy, in order; the caption becomes "复制文件：" + count + " 个文件...".
    void setFiles(const QStringList& files);
    QStringList files() const { return m_files; }
    bool isRunning() const { return m_running; }
    // The chosen same-name rule, 1 to 5.
    int opIndex() const { return m_opIndex; }

    // Shows the dialog modally for these files.
    static void showModal(GuiContext& context, const QStringList& files, QWidget* parent = nullptr);

public slots:
    // "关闭", Escape and the close box: a run in progress is stopped first, and the dialog closes
    // once it has ended.
    void reject() override;

private:
    void Command1_Click();
    void Command3_Click();
    // The folder of the combo box, created when missing; empty (after the messages) when it cannot be.
    QString prepareTargetFolder();
    void runCopy();

    GuiContext& m_context;
    std::unique_ptr<Ui::Form_Copy_Move> ui;
    QStringList m_files;
    QString m_targetFolder;
    int m_opIndex = 4;
    bool m_running = false;
    bool m_inRun = false; // a run is on the stack, until its last file is done even after "停止"
    bool m_closeRequested = false;
};

} // namespace lintbay
