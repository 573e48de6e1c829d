#pragma once

#include <QColor>
#include <QCursor>
#include <QFont>
#include <QLabel>
#include <QString>
#include <QTimer>
#include <functional>
#include <optional>

// A label that is a web link: link colours, an underline by its mode, a hand cursor, and a click
// that opens its address in the user's web browser (the desktop's opener first, then the default
// browser's own command), with a beep and a message when neither works. Screen readers see a link
// (its accessible name and description are the owner's to set) whose press action opens it. It is
// a tab stop: Enter or Space opens it as a click does, and a ring shows the keyboard's focus.
class CHyperLink : public QLabel {
    Q_OBJECT

  public:
    enum UnderlineMode { UnderlineOnHover = -1, UnderlineNever = 0, UnderlineAlways = 1 };

    // Open results: above 32 means opened.
    static constexpr int kOpened = 33;
    static constexpr int kNotFound = 2;

    CHyperLink(const QString& text, QWidget* parent = nullptr);
    ~CHyperLink() override;

    void SetAddress(const QString& address);
    void SetUnderlineMode(int mode);
    // A null pointer falls back to the link's own hand cursor.
    void SetPointer(const std::optional<QCursor>& pointer);
    void FitToText();

    // Opens the address; a shell-style result, above 32 when it was opened.
    int OpenAddress(const QString& address);
    // Follows the link as a click does: opens its address, or beeps and says why not.
    void Follow();
    // The message of a failed open, for the code it gave.
    static QString failureMessage(int code);

    // How addresses are opened; tests replace it. Default: the desktop, then the browser command.
    using Opener = std::function<int(const QString& address)>;
    void setOpener(Opener opener) { m_opener = std::move(opener); }

    QColor currentColour() const;
    bool pointerInside() const { return m_pointerInside != 0; }
    bool wasOpened() const { return m_wasOpened != 0; }
    const QString& address() const { return m_address; }
    const std::optional<QCursor>& pointer() const { return m_pointer; }
    // True while the link has the focus the keyboard brought, and shows its ring.
    bool showsFocusRing() const { return m_focusRing && hasFocus(); }

    QColor m_colourNormal{0, 0, 238};
    QColor m_colourVisited{85, 26, 139};
    QColor m_colourHover{255, 0, 0};

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;

  private:
    void PreSubclassWindow();
    void LoadFallbackPointer();
    void checkPointerLeft();
    void ReportOpenFailure(int code);

    int m_pointerInside = 0;
    int m_wasOpened = 0;
    int m_underlineMode = UnderlineOnHover;
    int m_fitToText = 1;
    bool m_focusRing = false;
    QString m_address;
    QFont m_underlinedFont;
    QFont m_plainFont;
    std::optional<QCursor> m_pointer;
    QTimer m_trackTimer;
    Opener m_opener;
};

// The desktop's way of opening an address: xdg-open, else the default browser's command.
int openAddressOnDesktop(const QString& address);
