#include "ui/qt/qt_dialog.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QEventLoop>
#include <QKeyEvent>
#include <QMimeData>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QUrl>

#include <algorithm>

#include "platform/window/drop_files.h"
#include "ui/gdi.h"

namespace ui::qt {

namespace {

QImage ToQImage(const Image& image) {
  QImage result(image.width, image.height, QImage::Format_ARGB32);
  for (int y = 0; y < image.height; ++y) {
    std::copy_n(image.pixels.data() + static_cast<std::size_t>(y) * image.width, image.width,
                reinterpret_cast<std::uint32_t*>(result.scanLine(y)));
  }
  return result;
}

// The device context of one paint: fills go straight to the painter.
class PainterContext : public DeviceContext {
 public:
  explicit PainterContext(QPainter* painter) : painter_(painter) {}
  void Fill(const RECT& rect, const Brush& brush) override {
    if (painter_ == nullptr) return;
    const QRect area(rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top);
    switch (brush.kind) {
      case Brush::Kind::Hollow:
        break;
      case Brush::Kind::Solid:
        painter_->fillRect(area, QColor::fromRgba(brush.color));
        break;
      case Brush::Kind::Pattern: {
        QBrush pattern(ToQImage(brush.pattern));
        painter_->setBrushOrigin(0, 0);
        painter_->fillRect(area, pattern);
        break;
      }
    }
  }

 private:
  QPainter* painter_;
};

}  // namespace

// ---------------------------------------------------------------------------
// DialogSurface

DialogSurface::DialogSurface(QtDialog& owner, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      owner_(owner) {}

// Dialogs end only through their procedure (EndDialog or a quit request).
void DialogSurface::reject() {}

void DialogSurface::paintEvent(QPaintEvent*) { owner_.PaintBackground(*this); }

void DialogSurface::closeEvent(QCloseEvent* event) {
  event->ignore();
  owner_.OnCloseBox();
}

void DialogSurface::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
      // A focused push button takes Enter as its own press; otherwise it is the
      // dialog's OK command.
      if (auto* button = qobject_cast<QPushButton*>(focusWidget()); button != nullptr && button->isEnabled()) {
        button->click();
      } else {
        owner_.OnEnterKey();
      }
      event->accept();
      return;
    case Qt::Key_Escape:
      owner_.OnEscapeKey();
      event->accept();
      return;
    default:
      QWidget::keyPressEvent(event);
  }
}

namespace {
// The local files a drag carries, as absolute paths; none for anything else.
std::vector<std::string> DraggedFiles(const QMimeData* data) {
  std::vector<std::string> paths;
  if (data == nullptr || !data->hasUrls()) return paths;
  for (const QUrl& url : data->urls()) {
    if (url.isLocalFile()) paths.push_back(url.toLocalFile().toUtf8().toStdString());
  }
  return paths;
}
}  // namespace

void DialogSurface::dragEnterEvent(QDragEnterEvent* event) {
  if (!DraggedFiles(event->mimeData()).empty()) event->acceptProposedAction();
}

void DialogSurface::dragMoveEvent(QDragMoveEvent* event) {
  if (!DraggedFiles(event->mimeData()).empty()) event->acceptProposedAction();
}

void DialogSurface::dropEvent(QDropEvent* event) {
  DropRecord record{DraggedFiles(event->mimeData())};
  if (record.paths.empty()) return;
  event->acceptProposedAction();
  owner_.Send(WM_DROPFILES, reinterpret_cast<WPARAM>(&record), 0);
}

// ---------------------------------------------------------------------------
// QtDialog

QtDialog::QtDialog(const DialogTemplate& tmpl, DLGPROC proc, QWidget* parentWidget)
    : template_(tmpl), proc_(proc), surface_(std::make_unique<DialogSurface>(*this, parentWidget)) {
  Build();
}

QtDialog::~QtDialog() = default;

void QtDialog::AskControlColours() {
  PainterContext dc(nullptr);
  for (Control& control : controls_) {
    switch (control.kind) {
      case ControlKind::Label:
      case ControlKind::CheckBox:
      case ControlKind::Slider:
      case ControlKind::GroupBox:
      case ControlKind::Edit:
        break;
      default:
        continue;
    }
    dc.backgroundMode = OPAQUE;
    const INT_PTR answer = Send(WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(static_cast<DeviceContext*>(&dc)),
                                reinterpret_cast<LPARAM>(Item(control.id)));
    // Group boxes and edit boxes draw their own ground; the rest are filled with the
    // answered brush's colour, or the system's window colour for no answer, unless
    // the answer is the hollow brush.
    if (control.kind == ControlKind::GroupBox || control.kind == ControlKind::Edit) continue;
    const auto brush = answer != 0 ? BrushFromHandle(reinterpret_cast<HGDIOBJ>(answer)) : nullptr;
    if (answer != 0 && (!brush || brush->kind != Brush::Kind::Solid)) {
      control.widget->setAutoFillBackground(false);
      continue;
    }
    QPalette palette = control.widget->palette();
    palette.setColor(QPalette::Window,
                     brush ? QColor::fromRgba(brush->color) : surface_->palette().color(QPalette::Window));
    control.widget->setPalette(palette);
    control.widget->setAutoFillBackground(true);
  }
}

INT_PTR QtDialog::Run(LPARAM param) {
  ended_ = false;
  result_ = 0;
  if (Send(WM_INITDIALOG, 0, param) != FALSE) {
    // The first enabled, visible tab stop gets the focus.
    for (const Control& control : controls_) {
      QWidget* w = control.widget;
      if ((w->focusPolicy() & Qt::TabFocus) != 0 && w->isEnabled() && !w->isHidden()) {
        w->setFocus(Qt::OtherFocusReason);
        break;
      }
    }
  }
  if (!ended_) {
    AskControlColours();
    surface_->setWindowModality(Qt::ApplicationModal);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
      const QRect area = screen->availableGeometry();
      surface_->move(area.center() - QPoint(surface_->width() / 2, surface_->height() / 2));
    }
    surface_->show();
    surface_->raise();
    surface_->activateWindow();
    if (!ended_) {
      QEventLoop loop;
      loop_ = &loop;
      loop.exec(QEventLoop::DialogExec);
      loop_ = nullptr;
    }
  }
  if (fault_) {
    surface_->hide();
    std::rethrow_exception(fault_);
  }
  Send(WM_DESTROY, 0, 0);
  surface_->hide();
  return result_;
}

void QtDialog::Quit() {
  OnWindowThread([this] {
    ended_ = true;
    result_ = 0;
    if (loop_ != nullptr) loop_->quit();
  });
}

void QtDialog::End(INT_PTR result) {
  OnWindowThread([this, result] {
    ended_ = true;
    result_ = result;
    if (loop_ != nullptr) loop_->quit();
  });
}

QtDialog::Control* QtDialog::Find(int id) {
  for (Control& control : controls_) {
    if (control.id == id) return &control;
  }
  return nullptr;
}

const QtDialog::Control* QtDialog::Find(int id) const { return const_cast<QtDialog*>(this)->Find(id); }

bool QtDialog::HasItem(int id) const { return Find(id) != nullptr; }

INT_PTR QtDialog::Send(UINT msg, WPARAM wParam, LPARAM lParam) {
  return OnWindowThread([&]() -> INT_PTR {
    if (proc_ == nullptr || fault_) return 0;
    // An exception must not cross the widgets' event handling: it ends the dialog
    // and leaves Run.
    try {
      return proc_(Handle(), msg, wParam, lParam);
    } catch (...) {
      fault_ = std::current_exception();
      ended_ = true;
      if (loop_ != nullptr) loop_->quit();
      return 0;
    }
  });
}

void QtDialog::SendCommand(int id, UINT code) {
  Send(WM_COMMAND, MAKEWPARAM(static_cast<unsigned>(id), code), reinterpret_cast<LPARAM>(Item(id)));
}

void QtDialog::SendNotify(int id, UINT code, int item, UINT oldState, UINT newState) {
  NMLISTVIEW record{};
  record.hdr.hwndFrom = Item(id);
  record.hdr.idFrom = static_cast<UINT_PTR>(id);
  record.hdr.code = code;
  record.iItem = item;
  if (code == LVN_ITEMCHANGED) {
    record.uChanged = LVIF_STATE;
    record.uOldState = oldState;
    record.uNewState = newState;
  }
  Send(WM_NOTIFY, static_cast<WPARAM>(id), reinterpret_cast<LPARAM>(&record));
}

void QtDialog::OnCloseBox() {
  if (Send(WM_CLOSE, 0, 0) == FALSE) SendCommand(IDCANCEL, BN_CLICKED);
}

void QtDialog::OnEnterKey() { SendCommand(IDOK, BN_CLICKED); }
void QtDialog::OnEscapeKey() { SendCommand(IDCANCEL, BN_CLICKED); }

void QtDialog::PaintBackground(QWidget& surface) {
  QPainter painter(&surface);
  PainterContext dc(&painter);
  if (Send(WM_ERASEBKGND, reinterpret_cast<WPARAM>(static_cast<DeviceContext*>(&dc)), 0) == FALSE) {
    painter.fillRect(surface.rect(), surface.palette().color(QPalette::Window));
  }
}

void QtDialog::ServeWhile(const std::function<bool()>& busy) {
  if (!busy()) return;
  // A local loop serves the other thread's blocking calls; a short timer looks again.
  QEventLoop loop;
  QTimer timer;
  timer.setInterval(5);
  QObject::connect(&timer, &QTimer::timeout, &loop, [&] {
    if (!busy()) loop.quit();
  });
  timer.start();
  loop.exec();
}

}  // namespace ui::qt
