#pragma once

#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>

namespace Ui {
class fCover;
}

namespace lintbay {

class GuiContext;
class UpdateCheck;
class uXMLHTTP;

// The start-up window: loads the shared values, runs the start-up step, opens the search window,
// and ends the program when it is unloaded.
class fCover : public QWidget
{
    Q_OBJECT
public:
    explicit fCover(GuiContext& context, QWidget* parent = nullptr);
    ~fCover() override;

    // The loading steps; shows the window first so that it paints before the slower steps.
    void load();

    QTimer* Timer1 = nullptr;
    // The request control of the update check.
    uXMLHTTP* uXMLHTTP2 = nullptr;
    UpdateCheck* updateCheck() const { return m_update; }

    // Ends the program; the program quits its event loop, tests record the call.
    std::function<void()> endProgram;

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void StartupStep();
    void onNewerVersion(const QString& answerText);
    void openProgramPage() const;
    void unload();

    GuiContext& m_context;
    std::unique_ptr<Ui::fCover> ui;
    UpdateCheck* m_update = nullptr;
    bool m_unloading = false;
};

// "版本:" and the program version.
QString VersionLabelText();

} // namespace lintbay
