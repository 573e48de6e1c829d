#pragma once

#include <QDialog>
#include <QIcon>
#include <memory>
#include <optional>
#include <thread>

#include "platform/SystemValues.h"
#include "testrun/StartUp.h"
#include "testrun/TestRun.h"
#include "testrun/WindowChannel.h"
#include "testrun/WindowOperations.h"

class CExplorer1;
class DesktopLook;
class CGdipButton;
class CHyperLink;

// The program's window: the page in a web view over a fixed background picture, the start,
// Restart and cancel buttons below it, and the powered-by link. Start-up chooses the title, the
// page, the button pictures and whether Start is available; the buttons drive the test run,
// which reaches the window back through the window operations, always on the window's thread.
// Contract: every member is called on the window's thread. The version check of start-up runs on
// a thread of its own and hands its result over through the window channel; the destructor
// closes the channel and then joins that thread (the check's exchange is bounded).
class CTarnDlg : public QDialog, public kestova::WindowOperations {
    Q_OBJECT

  public:
    static constexpr int kClientWidth = 1200;
    static constexpr int kClientHeight = 853;

    CTarnDlg(kestova::TestRunSettings settings, kestova::platform::SystemValues& values,
             QWidget* parent = nullptr);
    ~CTarnDlg() override;

    // The start-up sequence; called once before the window is shown. It returns at once: the
    // version check ends later (versionChecked), and until then the page is index.html and
    // Start waits disabled.
    bool OnInitDialog();

    void OnBnClickedStart();
    void OnBnClickedRestart();

    // The cancel command, Escape and the window manager's close: they end the window only while
    // the cancel button is enabled (no test is running or being prepared).
    void reject() override;

    void disableButton(kestova::WindowButton button) override;
    void enableButton(kestova::WindowButton button) override;
    void hideButton(kestova::WindowButton button) override;
    void showButton(kestova::WindowButton button) override;
    bool isButtonVisible(kestova::WindowButton button) const override;
    void reloadPage() override;

    CGdipButton& button(kestova::WindowButton which) const;
    CExplorer1& browser() const { return *m_browser; }
    CHyperLink& poweredByLink() const { return *m_poweredByLink; }
    kestova::TestRun& testRun() { return *m_testRun; }
    bool updateOffered() const { return m_facts.updateOffered(); }
    // True once the start-up version check has ended and its choices are shown.
    bool versionChecked() const { return m_versionChecked; }
    // 1 at the reference size; below 1 when the window had to shrink to fit its screen.
    double scale() const { return m_scale; }
    // The reader's own zoom of the page, 1 unless changed by Ctrl+plus, Ctrl+minus or Ctrl+0; the
    // page is shown at scale() times this.
    double pageZoom() const;
    static constexpr double kSmallestPageZoom = 0.5;
    static constexpr double kBiggestPageZoom = 3.0;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    void startVersionCheck();
    void showVersionCheck(kestova::VersionCheckResult result);
    void showPage();
    void loadButtonImages();
    // The page's look, "light" or "dark", set as the class of its root: the desktop's preference
    // where it has one, the palette's lightness otherwise.
    void applyPageLook();
    void addZoomKeys();
    // One zoom step up (+1) or down (-1), or back to 1 (0).
    void zoomPage(int steps);
    void applyZoom();
    // A rectangle of the reference layout at the window's scale.
    QRect scaled(const QRect& atReference) const;

    kestova::platform::SystemValues& m_values;
    kestova::ServiceEndpoint m_service;
    kestova::ThreadStarter m_startThread;
    CExplorer1* m_browser;
    CGdipButton* m_restartButton;
    CGdipButton* m_startButton;
    CGdipButton* m_cancelButton;
    CHyperLink* m_poweredByLink;
    QIcon m_icon;
    double m_scale = 1.0;
    std::size_t m_zoomStep;
    DesktopLook* m_desktopLook;
    kestova::StartUpFacts m_facts;
    bool m_versionChecked = false;
    std::shared_ptr<kestova::WindowChannel> m_channel;
    std::unique_ptr<kestova::TestRun> m_testRun;
    std::optional<std::thread> m_versionCheck;
};
