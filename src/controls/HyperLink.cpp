#include "controls/HyperLink.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QCoreApplication>
#include <QFocusEvent>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPalette>

#include "controls/FocusRing.h"
#include "controls/MessageBox.h"
#include "platform/ChildProcess.h"
#include "platform/DefaultBrowser.h"
#include "platform/OpenAddress.h"

int openAddressOnDesktop(const QString& address) {
    const std::string text = address.toStdString();
    if (kestova::platform::openAddressDetached(text)) {
        return CHyperLink::kOpened;
    }
    const std::optional<std::string> exec = kestova::platform::defaultBrowserExecLine();
    if (!exec) {
        return CHyperLink::kNotFound;
    }
    const std::vector<std::string> words =
        kestova::platform::commandWords(kestova::platform::browserCommandLine(*exec, text));
    return kestova::platform::ChildProcess::startProgram(words) ? CHyperLink::kOpened
                                                                : CHyperLink::kNotFound;
}

namespace {

// What a screen reader sees of the link: a label would be static text, and its text (blank for a
// link laid over a picture's caption) its name. Here it is a link, named by its accessible name,
// whose press action follows it.
class HyperLinkAccessible : public QAccessibleWidget {
  public:
    explicit HyperLinkAccessible(CHyperLink* link) : QAccessibleWidget(link, QAccessible::Link) {}

    QString text(QAccessible::Text kind) const override {
        if (kind == QAccessible::Value) {
            return link()->address();
        }
        return QAccessibleWidget::text(kind);
    }

    QStringList actionNames() const override {
        return QStringList(pressAction()) + QAccessibleWidget::actionNames();
    }

    void doAction(const QString& action) override {
        if (action == pressAction()) {
            link()->Follow();
        } else {
            QAccessibleWidget::doAction(action);
        }
    }

  private:
    CHyperLink* link() const { return static_cast<CHyperLink*>(widget()); }
};

QAccessibleInterface* hyperLinkAccessibleFactory(const QString& className, QObject* object) {
    if (className == QLatin1String("CHyperLink") && object != nullptr && object->isWidgetType()) {
        return new HyperLinkAccessible(static_cast<CHyperLink*>(object));
    }
    return nullptr;
}

}  // namespace

CHyperLink::CHyperLink(const QString& text, QWidget* parent)
    : QLabel(text, parent), m_opener(openAddressOnDesktop) {
    // Once per process, before any link is asked for its accessible interface.
    static const bool factoryInstalled = [] {
        QAccessible::installFactory(hyperLinkAccessibleFactory);
        return true;
    }();
    static_cast<void>(factoryInstalled);
    m_trackTimer.setInterval(100);
    connect(&m_trackTimer, &QTimer::timeout, this, &CHyperLink::checkPointerLeft);
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    PreSubclassWindow();
}

CHyperLink::~CHyperLink() {
    m_trackTimer.stop();
}

void CHyperLink::PreSubclassWindow() {
    if (m_address.isEmpty()) {
        m_address = text();
    }
    if (text().isEmpty()) {
        setText(m_address);
    }
    m_plainFont = font();
    m_plainFont.setUnderline(false);
    m_underlinedFont = m_plainFont;
    m_underlinedFont.setUnderline(true);
    FitToText();
    LoadFallbackPointer();
    SetUnderlineMode(UnderlineOnHover);
}

void CHyperLink::SetAddress(const QString& address) {
    m_address = address;
    FitToText();
}

void CHyperLink::SetUnderlineMode(int mode) {
    if (mode == m_underlineMode) {
        return;
    }
    setFont(mode == UnderlineAlways ? m_underlinedFont : m_plainFont);
    update();
    m_underlineMode = mode;
}

void CHyperLink::SetPointer(const std::optional<QCursor>& pointer) {
    m_pointer = pointer;
    if (!m_pointer) {
        LoadFallbackPointer();
    }
    if (m_pointer) {
        setCursor(*m_pointer);
    }
}

void CHyperLink::LoadFallbackPointer() {
    if (!m_pointer) {
        m_pointer = QCursor(Qt::PointingHandCursor);
        setCursor(*m_pointer);
    }
}

void CHyperLink::FitToText() {
    if (m_fitToText == 0) {
        return;
    }
    const QSize frame = size() - contentsRect().size();
    const QSize extent = QFontMetrics(m_underlinedFont).size(Qt::TextSingleLine, text()) + frame;
    QRect area = geometry();
    if (alignment() & Qt::AlignVCenter) {
        const int shrink = (area.height() - extent.height()) / 2;
        area.adjust(0, shrink, 0, -shrink);
    } else {
        area.setHeight(extent.height());
    }
    if (alignment() & Qt::AlignHCenter) {
        const int shrink = (area.width() - extent.width()) / 2;
        area.adjust(shrink, 0, -shrink, 0);
    } else if (alignment() & Qt::AlignRight) {
        area.setLeft(area.right() + 1 - extent.width());
    } else {
        area.setWidth(extent.width());
    }
    setGeometry(area);
}

QColor CHyperLink::currentColour() const {
    if (m_pointerInside != 0) {
        return m_colourHover;
    }
    return m_wasOpened != 0 ? m_colourVisited : m_colourNormal;
}

void CHyperLink::paintEvent(QPaintEvent* event) {
    QPalette colours = palette();
    colours.setColor(QPalette::WindowText, currentColour());
    setPalette(colours);
    QLabel::paintEvent(event);
    if (showsFocusRing()) {
        QPainter painter(this);
        drawFocusRing(painter, rect());
    }
}

void CHyperLink::mouseMoveEvent(QMouseEvent* event) {
    if (m_pointerInside == 0) {
        m_pointerInside = 1;
        if (m_underlineMode == UnderlineOnHover) {
            setFont(m_underlinedFont);
        }
        update();
        m_trackTimer.start();
    }
    QLabel::mouseMoveEvent(event);
}

void CHyperLink::checkPointerLeft() {
    if (rect().contains(mapFromGlobal(QCursor::pos()))) {
        return;
    }
    m_pointerInside = 0;
    m_trackTimer.stop();
    if (m_underlineMode != UnderlineAlways) {
        setFont(m_plainFont);
    }
    update(rect().adjusted(0, 0, 0, 10));
}

void CHyperLink::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
        Follow();
    }
    QLabel::mouseReleaseEvent(event);
}

void CHyperLink::keyPressEvent(QKeyEvent* event) {
    // Enter and Space open the link as a click does; a held key opens it once.
    const int key = event->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space) {
        if (!event->isAutoRepeat()) {
            Follow();
        }
        event->accept();
        return;
    }
    QLabel::keyPressEvent(event);
}

void CHyperLink::focusInEvent(QFocusEvent* event) {
    m_focusRing = showsFocusRingAfter(event->reason(), m_focusRing);
    QLabel::focusInEvent(event);
}

void CHyperLink::Follow() {
    m_pointerInside = 0;
    const int result = OpenAddress(m_address);
    m_wasOpened = result > 32 ? 1 : 0;
    if (m_wasOpened == 0) {
        QApplication::beep();
        ReportOpenFailure(result);
    }
}

int CHyperLink::OpenAddress(const QString& address) {
    return m_opener(address);
}

QString CHyperLink::failureMessage(int code) {
    QString detail;
    switch (code) {
        case 0:
            detail = QStringLiteral("The operating system is out\nof memory or resources.");
            break;
        case 2:
            detail = QStringLiteral("The specified file was not found.");
            break;
        case 3:
            detail = QStringLiteral("The specified path was not found.");
            break;
        case 5:
            detail = QStringLiteral("The operating system denied\naccess to the specified file.");
            break;
        case 8:
            detail = QStringLiteral("There was not enough memory to complete the operation.");
            break;
        case 11:
            detail = QStringLiteral(
                "The .EXE file is invalid\n(non-Win32 .EXE or error in .EXE image).");
            break;
        case 26:
            detail = QStringLiteral("A sharing violation occurred. ");
            break;
        case 27:
            detail = QStringLiteral("The filename association is\nincomplete or invalid.");
            break;
        case 28:
            detail = QStringLiteral(
                "The DDE transaction could not\nbe completed because the request timed out.");
            break;
        case 29:
            detail = QStringLiteral("The DDE transaction failed.");
            break;
        case 30:
            detail = QStringLiteral(
                "The DDE transaction could not\nbe completed because other DDE "
                "transactions\nwere being processed.");
            break;
        case 31:
            detail = QStringLiteral(
                "There is no application associated\nwith the given filename extension.");
            break;
        case 32:
            detail = QStringLiteral("The specified dynamic-link library was not found.");
            break;
        default:
            detail = QStringLiteral("Unknown Error (%1) occurred.").arg(code);
            break;
    }
    return QStringLiteral("Unable to open hyperlink:\n\n") + detail;
}

void CHyperLink::ReportOpenFailure(int code) {
    MessageBox::warning(this, QCoreApplication::applicationName(), failureMessage(code));
}
