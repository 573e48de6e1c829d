#pragma once

#include <QDialog>
#include <QIcon>
#include <memory>

#include "platform/SystemValues.h"
#include "testrun/TestRun.h"
#include "testrun/WindowChannel.h"
#include "testrun/WindowOperations.h"

class CExplorer1;
class CGdipButton;
class CHyperLink;

// The program's window: the page in a web view over a fixed background picture, the start,
// Restart and cancel buttons below it, and the powered-by link. Start-up chooses the title, the
// page, the button pictures and whether Start is available; the buttons drive the test run,
// which reaches the window back through the window operations, always on the window's thread.
class CTarnDlg : public QDialog, public kestova::WindowOperations {
    Q_OBJECT

  public:
    static constexpr int kClientWidth = 1200;
    static constexpr int kClientHeight = 853;

    CTarnDlg(kestova::TestRunSettings settings, kestova::platform::SystemValues& values,
             QWidget* parent = nullptr);
    ~CTarnDlg() override;

    // The start-up sequence; called once before the window is shown.
    bool OnInitDialog();

    void OnBnClickedStart();
    void OnBnClickedRestart();

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
    bool updateOffered() const { return m_updateOffered; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    void loadButtonImages(bool chinese);

    kestova::platform::SystemValues& m_values;
    kestova::ServiceEndpoint m_service;
    CExplorer1* m_browser;
    CGdipButton* m_restartButton;
    CGdipButton* m_startButton;
    CGdipButton* m_cancelButton;
    CHyperLink* m_poweredByLink;
    QIcon m_icon;
    bool m_updateOffered = false;
    std::shared_ptr<kestova::WindowChannel> m_channel;
    std::unique_ptr<kestova::TestRun> m_testRun;
};
