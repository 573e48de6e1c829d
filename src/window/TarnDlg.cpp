#include "window/TarnDlg.h"

#include <QDir>
#include <QEvent>
#include <QGuiApplication>
#include <QMetaObject>
#include <QPainter>
#include <QPalette>
#include <QPointer>
#include <QScreen>
#include <QShortcut>
#include <QStyle>
#include <QWebEnginePage>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <algorithm>
#include <array>
#include <cmath>
#include <utility>

#include "controls/Explorer1.h"
#include "controls/GdipButton.h"
#include "controls/HyperLink.h"
#include "window/DesktopLook.h"

namespace {

constexpr const char* kIperfProjectAddress = "https://iperf.fr/";

// What a button picture says, for the button's accessible name: a screen reader reads out the
// words a sighted user sees on it.
QString captionOfPicture(unsigned pictureId) {
    switch (pictureId) {
        case 169:
            return QStringLiteral("開始測試");
        case 173:
            return QStringLiteral("重新測試");
        case 171:
            return QStringLiteral("關閉");
        case 184:
            return QStringLiteral("更新");
        case 174:
            return QStringLiteral("Start");
        case 172:
            return QStringLiteral("Restart test");
        case 170:
            return QStringLiteral("Close");
        case 181:
            return QStringLiteral("Update");
        default:
            return {};
    }
}

// The button shows the picture and is named by its caption.
void showPicture(CGdipButton& button, unsigned pictureId) {
    button.LoadImageResource(pictureId);
    button.setAccessibleName(captionOfPicture(pictureId));
}

// The powered-by link is named by the caption of the background picture it lies over, which is
// the same in both languages; its description says where it leads, in the window's language.
void namePoweredByLink(CHyperLink& link, kestova::DisplayLanguage language) {
    link.setAccessibleName(QStringLiteral("Powered by iPerf3"));
    link.setAccessibleDescription(
        language == kestova::DisplayLanguage::Chinese
            ? QStringLiteral("在網頁瀏覽器中開啟 iperf 專案網頁 %1")
                  .arg(QString::fromLatin1(kIperfProjectAddress))
            : QStringLiteral("Opens the iperf project page, %1, in your web browser")
                  .arg(QString::fromLatin1(kIperfProjectAddress)));
}

// The scale at which the window fits the screen's free area, its title bar included: 1 where the
// reference size fits, smaller (the same both ways) where it does not.
double scaleToFit(const QWidget& window) {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (screen == nullptr) {
        return 1.0;
    }
    const QRect room = screen->availableGeometry();
    const int titleBar = window.style()->pixelMetric(QStyle::PM_TitleBarHeight);
    return std::min({1.0, room.width() / double(CTarnDlg::kClientWidth),
                     (room.height() - titleBar) / double(CTarnDlg::kClientHeight)});
}

// The page's look that matches the desktop: its light or dark preference where it states one;
// otherwise "light" on a light window colour, "dark" on a dark one. The page's own engine does
// not learn the desktop's preference, so the window tells it.
QString pageLookOf(std::optional<bool> desktopPrefersDark, const QPalette& palette) {
    const bool dark =
        desktopPrefersDark.value_or(palette.color(QPalette::Window).lightness() <= 128);
    return dark ? QStringLiteral("dark") : QStringLiteral("light");
}

// The reader's zoom steps, as browsers offer them; kZoomSteps[kNoZoom] is 1.
constexpr std::array<double, 13> kZoomSteps = {
    CTarnDlg::kSmallestPageZoom, 0.67, 0.75, 0.8, 0.9, 1.0, 1.1, 1.25, 1.5, 1.75, 2.0, 2.5,
    CTarnDlg::kBiggestPageZoom};
constexpr std::size_t kNoZoom = 5;

// Hands work from any thread to the window's thread; Qt drops it if the window is gone first.
kestova::WindowChannel::Dispatcher queuedOn(QObject* window) {
    return [window = QPointer<QObject>(window)](std::function<void()> work) {
        if (window) {
            QMetaObject::invokeMethod(window, std::move(work), Qt::QueuedConnection);
        }
    };
}

}  // namespace

CTarnDlg::CTarnDlg(kestova::TestRunSettings settings, kestova::platform::SystemValues& values,
                   QWidget* parent)
    : QDialog(parent),
      m_values(values),
      m_service(settings.service),
      m_startThread(settings.startThread),
      m_browser(new CExplorer1(this)),
      m_restartButton(new CGdipButton(this)),
      m_startButton(new CGdipButton(this)),
      m_cancelButton(new CGdipButton(this)),
      m_poweredByLink(new CHyperLink(QString(73, QLatin1Char(' ')), this)),
      m_icon(QStringLiteral(":/icon/128.png")),
      m_zoomStep(kNoZoom),
      m_desktopLook(new DesktopLook(this)),
      m_channel(std::make_shared<kestova::WindowChannel>(*this, queuedOn(this))) {
    // A fixed window without close, minimise or maximise boxes; the cancel button ends it.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setWindowTitle(QStringLiteral("Kestova Connection Speed Test"));
    m_scale = scaleToFit(*this);
    setFixedSize(scaled(QRect(0, 0, kClientWidth, kClientHeight)).size());
    m_browser->setGeometry(scaled(QRect(0, 0, 1200, 767)));
    m_cancelButton->setGeometry(scaled(QRect(621, 788, 183, 42)));
    m_startButton->setGeometry(scaled(QRect(398, 788, 183, 42)));
    m_restartButton->setGeometry(scaled(QRect(398, 788, 183, 42)));
    m_restartButton->hide();
    m_poweredByLink->setGeometry(scaled(QRect(990, 834, 210, 20)));
    if (m_scale < 1.0) {
        for (CGdipButton* each : {m_startButton, m_restartButton, m_cancelButton}) {
            each->SetPictureScale(m_scale);
        }
    }
    // Every page the view shows is zoomed with the window (and the reader's zoom), and takes the
    // desktop's look; a change of the look applies at once to the page shown.
    connect(m_browser, &QWebEngineView::loadFinished, this, &CTarnDlg::applyZoom);
    applyZoom();
    applyPageLook();
    connect(m_desktopLook, &DesktopLook::changed, this, &CTarnDlg::applyPageLook);
    addZoomKeys();
    // The page is the first tab stop. Until the web engine has made the page's surface (the
    // view's focus proxy, which it puts at the end of the window's tab order, the view with it)
    // the view has no focus of its own, so the window would open with the focus on a button.
    m_browser->setFocusPolicy(Qt::StrongFocus);
    setTabOrder(m_browser, m_cancelButton);
    setTabOrder(m_cancelButton, m_startButton);
    setTabOrder(m_startButton, m_restartButton);
    setTabOrder(m_restartButton, m_poweredByLink);
    // The view is named after the page it shows, in the page's language.
    connect(m_browser, &QWebEngineView::titleChanged, m_browser,
            [this](const QString& title) { m_browser->setAccessibleName(title); });

    connect(m_startButton, &QAbstractButton::clicked, this, &CTarnDlg::OnBnClickedStart);
    connect(m_restartButton, &QAbstractButton::clicked, this, &CTarnDlg::OnBnClickedRestart);
    connect(m_cancelButton, &QAbstractButton::clicked, this, &CTarnDlg::reject);
    // Escape is the cancel command wherever the focus is, the web view included (which would
    // otherwise keep the key for the page).
    connect(new QShortcut(QKeySequence(Qt::Key_Escape), this), &QShortcut::activated, this,
            &CTarnDlg::reject);
    // The version gate ends the program as the cancel command would, through the window's end.
    settings.endProgram = [this] { done(QDialog::Rejected); };
    m_testRun = std::make_unique<kestova::TestRun>(std::move(settings), *this, m_channel);
}

CTarnDlg::~CTarnDlg() {
    // A test still running carries on without the window; the version check may still be asking.
    m_channel->close();
    if (m_versionCheck && m_versionCheck->joinable()) {
        m_versionCheck->join();
    }
}

bool CTarnDlg::OnInitDialog() {
    setWindowIcon(m_icon);
    m_facts = kestova::checkThisMachine(m_values);
    setWindowTitle(m_facts.language == kestova::DisplayLanguage::Chinese
                       ? QStringLiteral("凱斯沃寬速度測試")
                       : QStringLiteral("Kestova Connection Speed Test"));
    // Start waits for the version check, which decides what it does.
    disableButton(kestova::WindowButton::Start);
    showPage();
    loadButtonImages();
    m_poweredByLink->SetAddress(QString::fromLatin1(kIperfProjectAddress));
    m_poweredByLink->SetUnderlineMode(CHyperLink::UnderlineNever);
    m_poweredByLink->SetPointer(QCursor(Qt::PointingHandCursor));
    namePoweredByLink(*m_poweredByLink, m_facts.language);
    startVersionCheck();
    // The page, the first tab stop, has the focus when the window comes to the front; it goes
    // on to the page's surface when the engine makes it.
    m_browser->setFocus(Qt::OtherFocusReason);
    return true;
}

void CTarnDlg::startVersionCheck() {
    m_versionCheck = m_startThread([service = m_service, channel = m_channel, this] {
        const kestova::VersionCheckResult result = kestova::checkClientVersion(service);
        // The channel runs it on the window's thread, and only while the window is there.
        channel->post([this, result](kestova::WindowOperations&) { showVersionCheck(result); });
    });
    if (!m_versionCheck) {
        // No thread to ask the service with: the version stays unknown, as when unreachable.
        showVersionCheck(kestova::VersionCheckResult::ServiceUnreachable);
    }
}

void CTarnDlg::showVersionCheck(kestova::VersionCheckResult result) {
    m_facts.version = result;
    m_versionChecked = true;
    if (m_facts.updateOffered()) {
        showPage();
        loadButtonImages();
    }
    if (m_facts.webEngine == kestova::WebEngine::Recent) {
        enableButton(kestova::WindowButton::Start);
    }
}

void CTarnDlg::showPage() {
    m_browser->Navigate(QDir::current().filePath(m_facts.updateOffered()
                                                     ? QStringLiteral("speedTest/download.html")
                                                     : QStringLiteral("speedTest/index.html")));
}

void CTarnDlg::loadButtonImages() {
    const bool update = m_facts.updateOffered();
    if (m_facts.language == kestova::DisplayLanguage::Chinese) {
        showPicture(*m_startButton, update ? 184 : 169);
        showPicture(*m_restartButton, update ? 184 : 173);
        showPicture(*m_cancelButton, 171);
    } else {
        showPicture(*m_startButton, update ? 181 : 174);
        showPicture(*m_restartButton, update ? 181 : 172);
        showPicture(*m_cancelButton, 170);
    }
}

void CTarnDlg::OnBnClickedStart() {
    // Before the version check has ended the gate has nothing to act on.
    if (m_versionChecked) {
        m_testRun->OnBnClickedStart();
    }
}

void CTarnDlg::OnBnClickedRestart() {
    m_testRun->OnBnClickedRestart();
}

void CTarnDlg::reject() {
    // A running test cannot be abandoned: its buttons are disabled until it ends.
    if (!m_cancelButton->isEnabled() || m_testRun->preparing()) {
        return;
    }
    QDialog::reject();
}

CGdipButton& CTarnDlg::button(kestova::WindowButton which) const {
    switch (which) {
        case kestova::WindowButton::Start:
            return *m_startButton;
        case kestova::WindowButton::Restart:
            return *m_restartButton;
        case kestova::WindowButton::Cancel:
            break;
    }
    return *m_cancelButton;
}

void CTarnDlg::disableButton(kestova::WindowButton which) {
    button(which).m_disabledLook = 1;
    button(which).setEnabled(false);
    button(which).update();
}

void CTarnDlg::enableButton(kestova::WindowButton which) {
    button(which).m_disabledLook = 0;
    button(which).setEnabled(true);
    button(which).update();
}

void CTarnDlg::hideButton(kestova::WindowButton which) {
    button(which).hide();
}

void CTarnDlg::showButton(kestova::WindowButton which) {
    button(which).show();
}

bool CTarnDlg::isButtonVisible(kestova::WindowButton which) const {
    return !button(which).isHidden();
}

void CTarnDlg::reloadPage() {
    m_browser->Refresh();
}

void CTarnDlg::applyPageLook() {
    const QString look = pageLookOf(m_desktopLook->prefersDark(), palette());
    const QString setLook = QStringLiteral(
                                "document.documentElement.classList.remove('dark', 'light');"
                                "document.documentElement.classList.add('%1');")
                                .arg(look);
    // The same once the new document has its root element (it has none yet when it is created).
    const QString setLookOnceThere = QStringLiteral(
                                         "(function () {"
                                         "  function set() {"
                                         "    var root = document.documentElement;"
                                         "    if (!root) { return false; }"
                                         "    root.classList.remove('dark', 'light');"
                                         "    root.classList.add('%1');"
                                         "    return true;"
                                         "  }"
                                         "  if (!set()) {"
                                         "    new MutationObserver(function (changes, observer) {"
                                         "      if (set()) { observer.disconnect(); }"
                                         "    }).observe(document, {childList: true});"
                                         "  }"
                                         "})();")
                                         .arg(look);
    QWebEngineScriptCollection& scripts = m_browser->page()->scripts();
    const QList<QWebEngineScript> earlier = scripts.find(QStringLiteral("kestova-page-look"));
    if (earlier.size() != 1 || earlier.front().sourceCode() != setLookOnceThere) {
        for (const QWebEngineScript& each : earlier) {
            scripts.remove(each);
        }
        QWebEngineScript script;
        script.setName(QStringLiteral("kestova-page-look"));
        script.setInjectionPoint(QWebEngineScript::DocumentCreation);
        script.setWorldId(QWebEngineScript::MainWorld);
        script.setSourceCode(setLookOnceThere);
        scripts.insert(script);
    }
    // The page shown now takes it at once.
    m_browser->page()->runJavaScript(setLook);
}

void CTarnDlg::changeEvent(QEvent* event) {
    QDialog::changeEvent(event);
    // The palette decides the look where the desktop states no preference.
    if (event->type() == QEvent::PaletteChange) {
        applyPageLook();
    }
}

// Ctrl+plus (Ctrl+= where plus needs Shift), Ctrl+minus and Ctrl+0 zoom the page; the buttons
// below it keep their size and place.
void CTarnDlg::addZoomKeys() {
    const std::array<std::pair<QKeySequence, int>, 5> keys = {
        std::pair{QKeySequence(Qt::CTRL | Qt::Key_Plus), 1},
        std::pair{QKeySequence(Qt::CTRL | Qt::Key_Equal), 1},
        std::pair{QKeySequence(Qt::CTRL | Qt::Key_Minus), -1},
        std::pair{QKeySequence(Qt::CTRL | Qt::Key_Underscore), -1},
        std::pair{QKeySequence(Qt::CTRL | Qt::Key_0), 0}};
    for (const auto& [key, steps] : keys) {
        connect(new QShortcut(key, this), &QShortcut::activated, this,
                [this, steps = steps] { zoomPage(steps); });
    }
}

void CTarnDlg::zoomPage(int steps) {
    if (steps == 0) {
        m_zoomStep = kNoZoom;
    } else if (steps > 0 && m_zoomStep + 1 < kZoomSteps.size()) {
        ++m_zoomStep;
    } else if (steps < 0 && m_zoomStep > 0) {
        --m_zoomStep;
    }
    applyZoom();
}

double CTarnDlg::pageZoom() const {
    return kZoomSteps.at(m_zoomStep);
}

void CTarnDlg::applyZoom() {
    m_browser->setZoomFactor(m_scale * pageZoom());
}

QRect CTarnDlg::scaled(const QRect& atReference) const {
    const auto at = [this](int length) { return static_cast<int>(std::lround(length * m_scale)); };
    return {at(atReference.x()), at(atReference.y()), at(atReference.width()),
            at(atReference.height())};
}

void CTarnDlg::paintEvent(QPaintEvent* /*event*/) {
    static const QImage background(QStringLiteral(":/bitmap/179.png"));
    QPainter painter(this);
    if (m_scale < 1.0) {
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(scaled(background.rect()), background);
    } else {
        painter.drawImage(QPoint(0, 0), background);
    }
}
