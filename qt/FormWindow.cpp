#include "qt/FormWindow.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSocketNotifier>
#include <QSystemTrayIcon>
#include <QTextCursor>
#include <QTextDocument>
#include <QVBoxLayout>

#include <algorithm>
#include <optional>

#include "platform/Version.h"

namespace tc::qt {

namespace {

QString text(const std::string& s) {
    return QString::fromLatin1(s.data(), qsizetype(s.size()));
}
QColor color(const ui::Color& c) {
    return QColor(c.r, c.g, c.b);
}

// A fixed border with a title, system menu, minimise and close box; no maximise box.
constexpr Qt::WindowFlags kWindowFlags =
    Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
    Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint;
// No border and no caption bar at all: the canvas covers the screen edge to edge.
constexpr Qt::WindowFlags kBorderlessFlags = Qt::Window | Qt::FramelessWindowHint;

Qt::WindowFlags flagsFor(const ui::Form& form) {
    return form.borderless ? kBorderlessFlags : kWindowFlags;
}

std::optional<ui::MouseButton> buttonOf(Qt::MouseButton b) {
    switch (b) {
        case Qt::LeftButton:
            return ui::MouseButton::Left;
        case Qt::RightButton:
            return ui::MouseButton::Right;
        case Qt::MiddleButton:
            return ui::MouseButton::Middle;
        default:
            return std::nullopt;
    }
}

QFont fontFor(const ui::Font& f, const ui::Font& formFont) {
    const std::string& family = f.family.empty() ? formFont.family : f.family;
    QFont q(text(family));
    if (family == "Fixedsys") {
        q.setStyleHint(QFont::TypeWriter);
        q.setFamilies({"Fixedsys", "DejaVu Sans Mono", "Monospace"});
    }
    if (family == "Arial") q.setStyleHint(QFont::SansSerif);
    if (family == "Times New Roman") q.setStyleHint(QFont::Serif);
    const int px = f.pixelHeight ? f.pixelHeight : formFont.pixelHeight;
    if (px > 0) q.setPixelSize(px);
    q.setBold(f.bold);
    return q;
}

// Draws the image control's operations onto its bitmap. They are drawn when the widget is
// painted, straight from the model's list and with one painter, so a picture rebuilt at
// every sample costs one pass per screen frame rather than a painter per operation; the
// model starts its list afresh at a fill of the whole canvas, and so does the drawing.
// Pointer presses, moves with a button held and releases reach the model in the image's own
// pixels, each through the program's loop so that a failing handler ends only itself.
class ImageWidget : public QWidget {
public:
    ImageWidget(ui::Image& model, platform::EventLoop& loop, QWidget* parent)
        : QWidget(parent),
          model_(model),
          loop_(loop),
          image_(std::max(model.rect().width, 1), std::max(model.rect().height, 1),
                 QImage::Format_RGB32) {
        image_.fill(Qt::white);
        setAttribute(Qt::WA_OpaquePaintEvent);
        update();  // what the model holds already is drawn at the first paint
    }
    // A canvas that grows (the draw test going full screen) keeps what it shows; the new
    // area starts white, as a fresh canvas does.
    void resizeCanvas(int width, int height) {
        if (width <= 0 || height <= 0 || QSize(width, height) == image_.size()) return;
        flush();
        QImage bigger(width, height, QImage::Format_RGB32);
        bigger.fill(Qt::white);
        QPainter(&bigger).drawImage(0, 0, image_);
        image_ = std::move(bigger);
        update();
    }
    // One operation has been appended to the model's list.
    void apply() {
        // A list that got shorter has started again at a fill of the whole canvas.
        if (model_.ops().size() <= drawn_) drawn_ = 0;
        if (dirty_) return;
        dirty_ = true;
        update();  // coalesced: repainted at screen rate, not per operation
    }
    ui::Image& model_;

protected:
    void paintEvent(QPaintEvent*) override {
        flush();
        QPainter p(this);
        p.drawImage(0, 0, image_);
    }
    void mousePressEvent(QMouseEvent* e) override {
        deliver(model_.onMouseDownAt, buttonOf(e->button()), e);
    }
    // Without mouse tracking Qt reports moves only while a button is held, which is all a
    // stroke needs.
    void mouseMoveEvent(QMouseEvent* e) override {
        deliver(model_.onMouseMoveAt, ui::MouseButton::Left, e);
    }
    void mouseReleaseEvent(QMouseEvent* e) override {
        deliver(model_.onMouseUpAt, buttonOf(e->button()), e);
        if (model_.onMouseUp) model_.onMouseUp();
    }

private:
    void flush() {
        dirty_ = false;
        const auto& ops = model_.ops();
        if (drawn_ >= ops.size()) return;
        QPainter p(&image_);
        for (std::size_t i = drawn_; i < ops.size(); ++i) draw(p, ops[i]);
        drawn_ = ops.size();
    }
    static void draw(QPainter& p, const ui::CanvasOp& op) {
        switch (op.type) {
            case ui::CanvasOp::Type::FillRect:
                p.fillRect(op.rect.left, op.rect.top, op.rect.width, op.rect.height,
                           color(op.brushColor));
                break;
            case ui::CanvasOp::Type::FrameRect:
                p.setPen(QPen(color(op.penColor), op.penWidth));
                p.drawRect(op.rect.left, op.rect.top, op.rect.width - 1, op.rect.height - 1);
                break;
            case ui::CanvasOp::Type::Line:
                p.setPen(QPen(color(op.penColor), op.penWidth));
                p.drawLine(op.from.x, op.from.y, op.to.x, op.to.y);
                break;
            case ui::CanvasOp::Type::Text:
                p.setPen(color(op.penColor));
                p.drawText(op.rect.left, op.rect.top + p.fontMetrics().ascent(), text(op.text));
                break;
        }
    }
    void deliver(const std::function<void(const ui::MouseEvent&)>& handler,
                 std::optional<ui::MouseButton> button, QMouseEvent* e) {
        if (!handler || !button) return;
        const QPoint at = e->position().toPoint();
        const ui::MouseEvent me{*button, at.x(), at.y()};
        loop_.dispatch([&] { handler(me); });
    }

    platform::EventLoop& loop_;
    QImage image_;
    std::size_t drawn_ = 0;  // the model's operations on the bitmap already
    bool dirty_ = false;     // a paint is asked for
};

}  // namespace

QImage FormWindow::lampImage(int index) {
    QImage img(32, 32, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor fill = index == 2   ? QColor(0, 200, 0)
                        : index == 1 ? QColor(220, 0, 0)
                                     : QColor(150, 150, 150);
    QRadialGradient g(12, 11, 18);
    g.setColorAt(0, fill.lighter(170));
    g.setColorAt(1, fill.darker(130));
    p.setBrush(g);
    p.setPen(QPen(QColor(60, 60, 60), 1.5));
    p.drawEllipse(QRectF(3, 3, 26, 26));
    return img;
}

FormWindow::FormWindow(ui::Form& form, platform::EventLoop& loop, bool allowTray)
    : form_(form), loop_(loop), allowTray_(allowTray) {
    setObjectName(text(form.name()));
    setWindowTitle(text(form.systemCaption()));
    setWindowFlags(flagsFor(form));
    // Qt would otherwise end the program when its last visible window closes: with this
    // window hidden from the lamp, that is any error box, and FormClose would never run.
    QGuiApplication::setQuitOnLastWindowClosed(false);
    if (form.fixedSize)
        setFixedSize(form.rect().width, form.rect().height);
    else
        resize(form.rect().width, form.rect().height);

    setFont(fontFor(form.defaultFont, form.defaultFont));
    QPalette pal = palette();
    pal.setColor(QPalette::Window, color(ui::colors::ButtonFace));
    setPalette(pal);
    setAutoFillBackground(true);
    client_ = this;

    for (const auto& c : form.controls()) build(*c);
    addedHandler_ = form.onControlAdded([this](ui::Control& c) { build(c); });
    form.addObserver(this);
    observed_.push_back(&form);
    qApp->installEventFilter(this);
    move(0, 0);
}

FormWindow::~FormWindow() {
    qApp->removeEventFilter(this);
    form_.removeControlAddedHandler(addedHandler_);

    for (auto* c : observed_) c->removeObserver(this);
    if (tray_) tray_->hide();
}

QSize FormWindow::outerSizeFor(QSize client) {
    // A window of the same kind, created but never shown, asks the platform for its frame.
    QWidget probe;
    probe.setWindowFlags(kWindowFlags);  // the main window's kind
    probe.setFixedSize(client);
    probe.winId();
    return probe.frameGeometry().size();
}

void FormWindow::showError(const std::string& message) {
    showErrorBox(isVisible() ? this : nullptr, message);
}

void FormWindow::showMessage(const std::string& message) {
    showMessageBox(isVisible() ? this : nullptr, message);
}

void showMessageBox(QWidget* parent, const std::string& message) {
    platform::debugOutput("message box: " + message);
    QMessageBox box(QMessageBox::Information, "touchcal", text(message), QMessageBox::Ok, parent);
    box.exec();
}

void showErrorBox(QWidget* parent, const std::string& message, int closeWhenReadable) {
    platform::debugOutput("error box: " + message);
    QMessageBox box(QMessageBox::Critical, "touchcal", text(message), QMessageBox::Ok, parent);
    std::unique_ptr<QSocketNotifier> closer;
    if (closeWhenReadable >= 0) {
        closer = std::make_unique<QSocketNotifier>(closeWhenReadable, QSocketNotifier::Read);
        QObject::connect(closer.get(), &QSocketNotifier::activated, &box, &QMessageBox::reject);
    }
    box.exec();
}

QWidget* FormWindow::widgetFor(const std::string& name) const {
    auto it = widgets_.find(name);
    return it == widgets_.end() ? nullptr : it->second;
}

void FormWindow::run(const std::function<void()>& handler) {
    if (handler) loop_.dispatch(handler);
}

void FormWindow::build(ui::Control& c) {
    if (c.holder()) return;
    if (c.kind() == ui::Kind::TrayLamp) {
        buildLamp(static_cast<ui::TrayLamp&>(c));
        return;
    }
    QWidget* parent = client_;
    if (!c.parent().empty())
        if (auto* p = widgetFor(c.parent())) parent = p;

    QWidget* w = nullptr;
    switch (c.kind()) {
        case ui::Kind::Label: {
            auto* l = new QLabel(parent);
            l->setAutoFillBackground(c.hasColor());
            if (c.name() == "suiForm1") l->setContentsMargins(8, 0, 0, 0);
            w = l;
            break;
        }
        case ui::Kind::Edit: {
            auto* e = new QLineEdit(parent);
            e->setFrame(true);
            connect(e, &QLineEdit::textEdited, this, [this, &c](const QString& t) {
                if (updating_) return;
                const QByteArray b = t.toLatin1();
                updating_ = true;
                c.setText(std::string(b.constData(), std::size_t(b.size())));
                updating_ = false;
            });
            w = e;
            break;
        }
        case ui::Kind::Button: {
            auto* b = new QPushButton(parent);
            connect(b, &QPushButton::clicked, this, [this, &c] { run(c.onClick); });
            w = b;
            break;
        }
        case ui::Kind::GroupBox:
            w = new QGroupBox(parent);
            break;
        case ui::Kind::CheckBox: {
            auto* b = new QCheckBox(parent);
            connect(b, &QCheckBox::toggled, this, [this, &c](bool on) {
                if (updating_) return;
                updating_ = true;
                static_cast<ui::CheckBox&>(c).setChecked(on);
                updating_ = false;
                run(c.onClick);
            });
            w = b;
            break;
        }
        case ui::Kind::RadioGroup: {
            auto& model = static_cast<ui::RadioGroup&>(c);
            auto* box = new QGroupBox(parent);
            auto* layout = new QVBoxLayout(box);
            layout->setContentsMargins(8, 2, 4, 2);
            layout->setSpacing(0);
            auto* group = new QButtonGroup(box);
            for (std::size_t i = 0; i < model.items().size(); ++i) {
                auto* r = new QRadioButton(text(model.items()[i]), box);
                r->setObjectName(text(c.name() + "." + std::to_string(i)));
                layout->addWidget(r);
                group->addButton(r, int(i));
            }
            connect(group, &QButtonGroup::idClicked, this, [this, &model](int id) {
                if (updating_) return;
                loop_.dispatch([&] { model.userSelect(id); });
            });
            w = box;
            break;
        }
        case ui::Kind::Memo: {
            auto& model = static_cast<ui::Memo&>(c);
            auto* m = new QPlainTextEdit(parent);
            if (model.maxLines()) m->setMaximumBlockCount(int(model.maxLines()));
            const bool h = model.scrollBars() == ui::ScrollBars::Both ||
                           model.scrollBars() == ui::ScrollBars::Horizontal;
            const bool v = model.scrollBars() == ui::ScrollBars::Both ||
                           model.scrollBars() == ui::ScrollBars::Vertical;
            m->setHorizontalScrollBarPolicy(h ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
            m->setVerticalScrollBarPolicy(v ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
            if (h) m->setLineWrapMode(QPlainTextEdit::NoWrap);
            m->setReadOnly(model.readOnly());
            m->viewport()->installEventFilter(this);
            w = m;
            break;
        }
        case ui::Kind::Image:
            w = new ImageWidget(static_cast<ui::Image&>(c), loop_, parent);
            break;
        default:
            return;
    }
    w->setObjectName(text(c.name()));
    w->setGeometry(c.rect().left, c.rect().top, c.rect().width, c.rect().height);
    widgets_[c.name()] = w;
    for (auto what : {ui::Change::Font, ui::Change::Text, ui::Change::Color, ui::Change::Lines,
                      ui::Change::Checked, ui::Change::ItemIndex})
        updateWidget(c, what);
    w->setVisible(c.visible());
    c.addObserver(this);
    observed_.push_back(&c);
}

void FormWindow::buildLamp(ui::TrayLamp& lamp) {
    if (allowTray_ && QSystemTrayIcon::isSystemTrayAvailable()) {
        tray_ = new QSystemTrayIcon(this);
        tray_->setIcon(QIcon(QPixmap::fromImage(lampImage(lamp.index()))));
        tray_->setToolTip(text(form_.systemCaption()));
        connect(tray_, &QSystemTrayIcon::activated, this,
                [this, &lamp](QSystemTrayIcon::ActivationReason r) {
                    if (r == QSystemTrayIcon::DoubleClick) run(lamp.onDblClick);
                });
        tray_->show();
    } else {
        // No notification area: the operator still sees the lamp, inside the window.
        QWidget* parent = widgetFor(lamp.fallbackParent());
        lampLabel_ = new QLabel(parent ? parent : client_);
        lampLabel_->setObjectName(text(lamp.name()));
        const auto& r = lamp.fallbackPlace();
        lampLabel_->setGeometry(r.left, r.top, r.width, r.height);
        lampLabel_->setPixmap(QPixmap::fromImage(lampImage(lamp.index())));
        lampLabel_->installEventFilter(this);
        widgets_[lamp.name()] = lampLabel_;
    }
    lamp.addObserver(this);
    observed_.push_back(&lamp);
}

void FormWindow::changed(ui::Control& c, ui::Change what) {
    if (&c == &form_) {
        if (what == ui::Change::Visible) {
            if (c.visible()) {
                if (!form_.maximized)
                    show();
                else if (form_.borderless)
                    showFullScreen();
                else
                    showMaximized();
                raise();
                activateWindow();
            } else if (tray_ || !form_.quitOnClose) {
                // A secondary window is brought back by the program itself.
                hide();
            } else {
                // Without a notification area a hidden window could never be brought
                // back; it goes to the task bar instead.
                showMinimized();
            }
        } else if (what == ui::Change::Text) {
            update();
        }
        return;
    }
    if (c.kind() == ui::Kind::TrayLamp) {
        const QPixmap pm = QPixmap::fromImage(lampImage(static_cast<ui::TrayLamp&>(c).index()));
        if (tray_) tray_->setIcon(QIcon(pm));
        if (lampLabel_) lampLabel_->setPixmap(pm);
        return;
    }
    updateWidget(c, what);
}

void FormWindow::updateWidget(ui::Control& c, ui::Change what) {
    QWidget* w = widgetFor(c.name());
    if (!w) return;
    updating_ = true;
    switch (what) {
        case ui::Change::Visible:
            w->setVisible(c.visible());
            break;
        case ui::Change::Geometry:
            w->setGeometry(c.rect().left, c.rect().top, c.rect().width, c.rect().height);
            if (c.kind() == ui::Kind::Image)
                static_cast<ImageWidget*>(w)->resizeCanvas(c.rect().width, c.rect().height);
            break;
        case ui::Change::Focus:
            w->setFocus();
            break;
        case ui::Change::Font: {
            w->setFont(fontFor(c.font(), form_.defaultFont));
            QPalette pal = w->palette();
            pal.setColor(QPalette::WindowText, color(c.font().color));
            pal.setColor(QPalette::Text, color(c.font().color));
            w->setPalette(pal);
            break;
        }
        case ui::Change::Color: {
            if (!c.hasColor()) break;
            QPalette pal = w->palette();
            pal.setColor(QPalette::Window, color(c.color()));
            pal.setColor(QPalette::Base, color(c.color()));
            w->setPalette(pal);
            break;
        }
        case ui::Change::Text:
            if (auto* l = qobject_cast<QLabel*>(w)) {
                l->setText(text(c.text()));
                // Labels grow to their text, as the window's labels always have.
                const int needed = QFontMetrics(l->font()).horizontalAdvance(l->text()) + 4;
                if (c.name() != "suiForm1" && needed > l->width()) l->resize(needed, l->height());
            } else if (auto* e = qobject_cast<QLineEdit*>(w)) {
                if (e->text() != text(c.text())) e->setText(text(c.text()));
            } else if (auto* b = qobject_cast<QPushButton*>(w))
                b->setText(text(c.text()));
            else if (auto* cb = qobject_cast<QCheckBox*>(w))
                cb->setText(text(c.text()));
            else if (auto* g = qobject_cast<QGroupBox*>(w))
                g->setTitle(text(c.text()));
            break;
        case ui::Change::Checked:
            if (auto* cb = qobject_cast<QCheckBox*>(w))
                cb->setChecked(static_cast<ui::CheckBox&>(c).checked());
            break;
        case ui::Change::ItemIndex: {
            if (c.kind() != ui::Kind::RadioGroup) break;
            const int i = static_cast<ui::RadioGroup&>(c).itemIndex();
            if (auto* r = w->findChild<QRadioButton*>(text(c.name() + "." + std::to_string(i))))
                r->setChecked(true);
            break;
        }
        case ui::Change::LineAdded:
            if (auto* m = qobject_cast<QPlainTextEdit*>(w)) {
                const auto& model = static_cast<ui::Memo&>(c);
                m->appendPlainText(text(model.lines().back()));
                // The model keeps a bounded amount of text as well as of lines; the widget
                // drops its oldest lines the same way, so a flood never grows the window.
                if (const std::size_t limit = model.maxBytes()) {
                    QTextDocument* doc = m->document();
                    while (doc->blockCount() > 1 && std::size_t(doc->characterCount()) > limit) {
                        QTextCursor first(doc);
                        first.movePosition(QTextCursor::Start);
                        first.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor);
                        first.removeSelectedText();
                    }
                }
            }
            break;
        case ui::Change::Lines:
            if (auto* m = qobject_cast<QPlainTextEdit*>(w)) {
                QStringList all;
                for (const auto& l : static_cast<ui::Memo&>(c).lines()) all << text(l);
                m->setPlainText(all.join('\n'));
            }
            break;
        case ui::Change::Canvas:
            static_cast<ImageWidget*>(w)->apply();
            break;
        default:
            break;
    }
    updating_ = false;
}

void FormWindow::showEvent(QShowEvent* e) {
    QWidget::showEvent(e);
    const bool wasHidden = !form_.visible();
    if (wasHidden) form_.setVisible(true);
    if (!e->spontaneous() || wasHidden) run(form_.onShow);
}

void FormWindow::closeEvent(QCloseEvent* e) {
    run(form_.onClose);
    e->accept();
    if (form_.quitOnClose) {
        loop_.quit();
    } else if (form_.visible()) {
        // Only hidden: the model must know, or showing it again would change nothing.
        form_.setVisible(false);
    }
}

bool FormWindow::eventFilter(QObject* watched, QEvent* e) {
    if (e->type() == QEvent::KeyPress && form_.keyPreview && isActiveWindow()) {
        auto* w = qobject_cast<QWidget*>(watched);
        // With no control able to take focus (the canvas) the window itself gets the key.
        QWidget* target = QApplication::focusWidget() ? QApplication::focusWidget() : this;
        if (w && w->window() == this && w == target) {
            const QString t = static_cast<QKeyEvent*>(e)->text();
            if (t.size() == 1 && t[0].unicode() < 256 && form_.onKeyPress) {
                const char ch = char(t[0].unicode());
                loop_.dispatch([&] { form_.onKeyPress(ch); });
            }
        }
        return false;  // the focused control still gets the character
    }
    if (e->type() == QEvent::MouseButtonDblClick && watched == lampLabel_) {
        if (auto* lamp = form_.tryFind("CoolTrayIcon1")) run(lamp->onDblClick);
        return true;
    }
    if (e->type() == QEvent::MouseButtonRelease) {
        for (auto& [name, w] : widgets_) {
            auto* m = qobject_cast<QPlainTextEdit*>(w);
            if (m && watched == m->viewport()) {
                run(form_.find(name).onMouseUp);
                break;
            }
        }
    }
    return false;
}

}  // namespace tc::qt
