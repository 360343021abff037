#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

namespace Ui {
class AboutBox;
}

namespace lintbay {

class GuiContext;

// The desktop's own "about this system" program and how to start it.
struct SystemInfoTool
{
    QString program; // full path
    QStringList arguments;
};

// The first information tool found on PATH, the current desktop's own first (`desktop` is a
// colon-separated XDG_CURRENT_DESKTOP value); empty when the system has none.
std::optional<SystemInfoTool> FindSystemInfoTool(const QString& desktop);
// The same for the desktop the program runs on.
std::optional<SystemInfoTool> FindSystemInfoTool();

// The about box: the program's version, its links, and a button that starts the system's
// information tool (disabled where there is none).
class AboutBox : public QDialog
{
    Q_OBJECT
public:
    AboutBox(GuiContext& context, QWidget* parent = nullptr);
    ~AboutBox() override;

    // Shows the box and returns when it is closed.
    static void showModal(QWidget* parent, GuiContext& context);

    // The tool the button starts; empty when it is disabled.
    const std::optional<SystemInfoTool>& systemInfoTool() const { return m_tool; }

private:
    void cmdSysInfo_Click();

    std::unique_ptr<Ui::AboutBox> ui;
    std::optional<SystemInfoTool> m_tool;
};

} // namespace lintbay
