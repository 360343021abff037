#pragma once

#include <QDialog>

#include <memory>

class QButtonGroup;
class QRadioButton;

namespace Ui {
class fOption;
}

namespace lintbay {

class GuiContext;

// "设置": download way, proxy, the save-folder prompt, the size limit and the embedded browser's
// emulation level. Every open starts from the program-wide values; OK applies them, saves them
// and closes, "关闭" closes without applying.
class fOption : public QDialog
{
    Q_OBJECT
public:
    explicit fOption(GuiContext& context, QWidget* parent = nullptr);
    ~fOption() override;

    static void showModal(GuiContext& context, QWidget* parent);

    // The emulation buttons by their index: 0–4 for "IE7" to "IE11", 10 for "默认"; null otherwise.
    QRadioButton* OptionIE(int index) const;

private:
    void load();
    void Command1_Click();

    GuiContext& m_context;
    std::unique_ptr<Ui::fOption> ui;
    QButtonGroup* m_emulation = nullptr;
};

} // namespace lintbay
