#include "ui/qt/qt_dialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>
#include <QComboBox>
#include <QDir>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontMetrics>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMetaObject>
#include <QMouseEvent>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSlider>
#include <QStyle>
#include <QThread>
#include <QTimer>
#include <QTreeWidget>

#include <algorithm>
#include <functional>
#include <iterator>
#include <numeric>
#include <type_traits>

#include "platform/window/drop_files.h"
#include "ui/gdi.h"
#include "ui/qt/button_icons.h"

namespace ui::qt {

namespace {

QString Q(const std::string& text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }
std::string S(const QString& text) { return text.toUtf8().toStdString(); }

int MulDiv(int value, int numerator, int denominator) {
  const long long product = static_cast<long long>(value) * numerator;
  return static_cast<int>((product + denominator / 2) / denominator);
}

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

// Hands the left mouse button's presses and releases on the watched widget to
// functions, before the widget handles them.
class ClickWatcher : public QObject {
 public:
  ClickWatcher(QObject* watched, std::function<void(QPoint)> onPress, std::function<void(QPoint)> onRelease)
      : QObject(watched), onPress_(std::move(onPress)), onRelease_(std::move(onRelease)) {
    watched->installEventFilter(this);
  }

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() != QEvent::MouseButtonPress && event->type() != QEvent::MouseButtonRelease) return false;
    const auto* mouse = static_cast<QMouseEvent*>(event);
    if (mouse->button() != Qt::LeftButton) return false;
    (event->type() == QEvent::MouseButtonPress ? onPress_ : onRelease_)(mouse->position().toPoint());
    return false;
  }

 private:
  std::function<void(QPoint)> onPress_;
  std::function<void(QPoint)> onRelease_;
};

// Hands the Delete key pressed in the watched widget to a function; the widget
// handles the key as well.
class DeleteKeyWatcher : public QObject {
 public:
  DeleteKeyWatcher(QObject* watched, std::function<void()> onDelete)
      : QObject(watched), onDelete_(std::move(onDelete)) {
    watched->installEventFilter(this);
  }

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Delete) onDelete_();
    return false;
  }

 private:
  std::function<void()> onDelete_;
};

// The folder a file dialog opens in: a file stands for its folder, a folder that does
// not exist for its nearest existing parent; the current folder when none is left.
QString StartingFolder(const std::string& requested) {
  if (requested.empty()) return QDir::currentPath();
  QString path = QFileInfo(Q(requested)).absoluteFilePath();
  while (!QFileInfo(path).isDir()) {
    const QString parent = QFileInfo(path).absolutePath();
    if (parent == path) return QDir::currentPath();
    path = parent;
  }
  return path;
}

Qt::Alignment LabelAlignment(DWORD style) {
  switch (style & 0x3) {
    case kAlignCenter: return Qt::AlignHCenter | Qt::AlignTop;
    case kAlignRight: return Qt::AlignRight | Qt::AlignTop;
    default: return Qt::AlignLeft | Qt::AlignTop;
  }
}

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

template <typename F>
auto QtDialog::OnWindowThread(F f) const -> decltype(f()) {
  using R = decltype(f());
  QObject* context = surface_.get();
  if (QThread::currentThread() == context->thread()) return f();
  if constexpr (std::is_void_v<R>) {
    QMetaObject::invokeMethod(context, f, Qt::BlockingQueuedConnection);
  } else {
    R result{};
    QMetaObject::invokeMethod(context, [&result, &f] { result = f(); }, Qt::BlockingQueuedConnection);
    return result;
  }
}

void QtDialog::Build() {
  QFont font(QString::fromLatin1(template_.fontFamily));
  font.setPointSize(template_.pointSize);
  surface_->setFont(font);
  // Dialog base units from the font, the way the Windows dialog manager takes them.
  const QFontMetrics metrics(font);
  const int average =
      metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  baseX_ = std::max(1, (average / 26 + 1) / 2);
  baseY_ = std::max(1, metrics.height());
  auto px = [this](int x) { return MulDiv(x, baseX_, 4); };
  auto py = [this](int y) { return MulDiv(y, baseY_, 8); };

  // The window keeps its style's own light palette under any desktop palette: its
  // ground is the light pattern, and its labels lie on it in the palette's text
  // colour, which a dark palette makes light.
  surface_->setPalette(surface_->style()->standardPalette());
  surface_->setWindowTitle(QString::fromUtf8(template_.caption));
  surface_->setFixedSize(px(template_.cx), py(template_.cy));
  surface_->setSizeGripEnabled(false);

  for (const ControlTemplate& c : template_.controls) {
    QWidget* widget = nullptr;
    const QString text = QString::fromUtf8(c.text);
    const int id = c.id;
    switch (c.kind) {
      case ControlKind::Label: {
        auto* label = new QLabel(text, surface_.get());
        label->setAlignment(LabelAlignment(c.style));
        label->setWordWrap(true);
        widget = label;
        break;
      }
      case ControlKind::BlackRect: {
        auto* frame = new QFrame(surface_.get());
        QPalette palette = frame->palette();
        palette.setColor(QPalette::Window, Qt::black);
        frame->setPalette(palette);
        frame->setAutoFillBackground(true);
        widget = frame;
        break;
      }
      case ControlKind::PushButton: {
        auto* button = new QPushButton(text, surface_.get());
        button->setAutoDefault(false);
        button->setDefault(false);
        QObject::connect(button, &QPushButton::clicked, surface_.get(), [this, id] { SendCommand(id, BN_CLICKED); });
        widget = button;
        break;
      }
      case ControlKind::CheckBox: {
        auto* box = new QCheckBox(text, surface_.get());
        QObject::connect(box, &QCheckBox::clicked, surface_.get(), [this, id] { SendCommand(id, BN_CLICKED); });
        widget = box;
        break;
      }
      case ControlKind::GroupBox:
        widget = new QGroupBox(text, surface_.get());
        widget->setFocusPolicy(Qt::NoFocus);
        break;
      case ControlKind::Edit: {
        auto* edit = new QLineEdit(text, surface_.get());
        if ((c.style & kReadOnly) != 0) {
          // Read-only shows: the ground of the window, not of a field to type in.
          edit->setReadOnly(true);
          QPalette palette = edit->palette();
          palette.setColor(QPalette::Base, palette.color(QPalette::Window));
          edit->setPalette(palette);
        }
        widget = edit;
        break;
      }
      case ControlKind::ComboList: {
        auto* combo = new QComboBox(surface_.get());
        combo->setMaxVisibleItems(std::max(1, (c.cy - 12) / 8));
        QObject::connect(combo, &QComboBox::activated, surface_.get(), [this, id] { SendCommand(id, CBN_SELCHANGE); });
        widget = combo;
        break;
      }
      case ControlKind::ListView: {
        auto* list = new QTreeWidget(surface_.get());
        list->setRootIsDecorated(false);
        list->setItemsExpandable(false);
        list->setUniformRowHeights(true);
        list->setHeaderHidden(true);
        list->setSelectionMode((c.style & kSingleSelect) != 0 ? QAbstractItemView::SingleSelection
                                                              : QAbstractItemView::ExtendedSelection);
        // Items are selected whole, as list view items are; full-row select only
        // changes how the row is drawn.
        list->setSelectionBehavior(QAbstractItemView::SelectRows);
        list->header()->setStretchLastSection(false);
        QObject::connect(list->selectionModel(), &QItemSelectionModel::selectionChanged, surface_.get(),
                         [this, id] { OnUserSelection(id); });
        // A press on empty space lets go of the selection, as a list view does on the
        // button's press; the release is the click.
        new ClickWatcher(
            list->viewport(),
            [list](QPoint point) {
              if (list->isEnabled() && !list->indexAt(point).isValid()) list->selectionModel()->clearSelection();
            },
            [this, id](QPoint point) { OnUserClick(id, point); });
        new DeleteKeyWatcher(list, [this, id] {
          NMLVKEYDOWN record{};
          record.hdr.hwndFrom = Item(id);
          record.hdr.idFrom = static_cast<UINT_PTR>(id);
          record.hdr.code = LVN_KEYDOWN;
          record.wVKey = VK_DELETE;
          Send(WM_NOTIFY, static_cast<WPARAM>(id), reinterpret_cast<LPARAM>(&record));
        });
        widget = list;
        break;
      }
      case ControlKind::Slider: {
        auto* slider = new QSlider(Qt::Horizontal, surface_.get());
        slider->setRange(0, 100);
        slider->setTickPosition(QSlider::NoTicks);  // marks appear as the program sets them
        // Only the user's moves notify; positions set by the program do not.
        QObject::connect(slider, &QSlider::valueChanged, surface_.get(), [this, id](int) {
          if (silence_ == 0) SendNotify(id, TRBN_THUMBPOSCHANGING);
        });
        widget = slider;
        break;
      }
      case ControlKind::Progress: {
        auto* bar = new QProgressBar(surface_.get());
        bar->setRange(0, 100);
        bar->setValue(0);
        bar->setTextVisible(false);
        widget = bar;
        break;
      }
    }
    widget->setObjectName(id == kNoId ? QStringLiteral("item-static") : QStringLiteral("item-%1").arg(id));
    if (c.accessibleName != nullptr) widget->setAccessibleName(QString::fromUtf8(c.accessibleName));
    if ((c.style & kTabStop) != 0) {
      widget->setFocusPolicy(Qt::StrongFocus);
    } else if (c.kind == ControlKind::ListView) {
      widget->setFocusPolicy(Qt::ClickFocus);
    } else if (c.kind != ControlKind::PushButton && c.kind != ControlKind::CheckBox) {
      widget->setFocusPolicy(Qt::NoFocus);
    }
    int height = py(c.cy);
    if (c.kind == ControlKind::ComboList) height = widget->sizeHint().height();  // cy is the dropped height
    widget->setGeometry(px(c.x), py(c.y), px(c.cx), height);
    controls_.push_back(Control{c.kind, id, widget, {}, {}});
  }
}

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
    palette.setColor(QPalette::Window, brush ? QColor::fromRgba(brush->color) : surface_->palette().color(QPalette::Window));
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

template <typename W>
W* QtDialog::Widget(int id, ControlKind kind) const {
  const Control* control = Find(id);
  if (control == nullptr || control->kind != kind) return nullptr;
  return static_cast<W*>(control->widget);
}

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

// --- any control -------------------------------------------------------------

void QtDialog::EnableItem(int id, bool enable) {
  OnWindowThread([=, this] {
    if (const Control* c = Find(id)) c->widget->setEnabled(enable);
  });
}

bool QtDialog::IsItemEnabled(int id) const {
  return OnWindowThread([=, this] {
    const Control* c = Find(id);
    return c != nullptr && c->widget->isEnabled();
  });
}

void QtDialog::ShowItem(int id, bool show) {
  OnWindowThread([=, this] {
    if (const Control* c = Find(id)) c->widget->setHidden(!show);
  });
}

bool QtDialog::IsItemVisible(int id) const {
  return OnWindowThread([=, this] {
    const Control* c = Find(id);
    return c != nullptr && !c->widget->isHidden();
  });
}

void QtDialog::SetItemText(int id, const std::string& text) {
  OnWindowThread([&, this] {
    const Control* c = Find(id);
    if (c == nullptr) return;
    const QString value = Q(text);
    if (auto* label = qobject_cast<QLabel*>(c->widget)) label->setText(value);
    else if (auto* button = qobject_cast<QAbstractButton*>(c->widget)) button->setText(value);
    else if (auto* group = qobject_cast<QGroupBox*>(c->widget)) group->setTitle(value);
    else if (auto* edit = qobject_cast<QLineEdit*>(c->widget)) {
      edit->setText(value);
      edit->setCursorPosition(0);
      // A path too long for the box can be read whole.
      edit->setToolTip(value);
    }
  });
}

std::string QtDialog::ItemText(int id) const {
  return OnWindowThread([&, this]() -> std::string {
    const Control* c = Find(id);
    if (c == nullptr) return {};
    if (auto* label = qobject_cast<QLabel*>(c->widget)) return S(label->text());
    if (auto* button = qobject_cast<QAbstractButton*>(c->widget)) return S(button->text());
    if (auto* group = qobject_cast<QGroupBox*>(c->widget)) return S(group->title());
    if (auto* edit = qobject_cast<QLineEdit*>(c->widget)) return S(edit->text());
    if (auto* combo = qobject_cast<QComboBox*>(c->widget)) return S(combo->currentText());
    return {};
  });
}

void QtDialog::FocusItem(int id) {
  OnWindowThread([=, this] {
    if (const Control* c = Find(id)) c->widget->setFocus(Qt::OtherFocusReason);
  });
}

int QtDialog::FocusedItem() const {
  return OnWindowThread([this] {
    const QWidget* focus = surface_->focusWidget();
    for (const Control& c : controls_) {
      if (c.widget == focus && c.id != kNoId) return c.id;
    }
    return 0;
  });
}

void QtDialog::DecorateButton(int id, const ButtonDecoration& decoration) {
  OnWindowThread([&, this] {
    auto* button = Widget<QPushButton>(id, ControlKind::PushButton);
    if (button == nullptr) return;
    const QIcon icon = ButtonIcon(decoration.iconId);
    if (!icon.isNull()) {
      button->setIcon(icon);
      button->setIconSize(QSize(16, 16));
    }
    button->setToolTip(Q(decoration.tooltip));
    button->setProperty("decorationStyle", static_cast<uint>(decoration.style));
  });
}

// --- check boxes ---------------------------------------------------------------

void QtDialog::SetCheck(int id, UINT state) {
  OnWindowThread([=, this] {
    if (auto* box = Widget<QCheckBox>(id, ControlKind::CheckBox)) box->setChecked(state == BST_CHECKED);
  });
}

UINT QtDialog::GetCheck(int id) const {
  return OnWindowThread([=, this]() -> UINT {
    auto* box = Widget<QCheckBox>(id, ControlKind::CheckBox);
    return box != nullptr && box->isChecked() ? BST_CHECKED : BST_UNCHECKED;
  });
}

// --- drop-down lists -------------------------------------------------------------

int QtDialog::ComboAddString(int id, const std::string& text) {
  return OnWindowThread([&, this] {
    auto* combo = Widget<QComboBox>(id, ControlKind::ComboList);
    if (combo == nullptr) return CB_ERR;
    // A new list has no selection until the program chooses one.
    const bool wasEmpty = combo->count() == 0;
    combo->addItem(Q(text));
    if (wasEmpty) combo->setCurrentIndex(-1);
    return combo->count() - 1;
  });
}

void QtDialog::ComboResetContent(int id) {
  OnWindowThread([=, this] {
    if (auto* combo = Widget<QComboBox>(id, ControlKind::ComboList)) combo->clear();
  });
}

int QtDialog::ComboCount(int id) const {
  return OnWindowThread([=, this] {
    auto* combo = Widget<QComboBox>(id, ControlKind::ComboList);
    return combo == nullptr ? 0 : combo->count();
  });
}

std::string QtDialog::ComboText(int id, int index) const {
  return OnWindowThread([=, this]() -> std::string {
    auto* combo = Widget<QComboBox>(id, ControlKind::ComboList);
    if (combo == nullptr || index < 0 || index >= combo->count()) return {};
    return S(combo->itemText(index));
  });
}

void QtDialog::ComboSetSel(int id, int index) {
  OnWindowThread([=, this] {
    auto* combo = Widget<QComboBox>(id, ControlKind::ComboList);
    if (combo == nullptr) return;
    combo->setCurrentIndex(index >= 0 && index < combo->count() ? index : -1);
  });
}

int QtDialog::ComboGetSel(int id) const {
  return OnWindowThread([=, this] {
    auto* combo = Widget<QComboBox>(id, ControlKind::ComboList);
    return combo == nullptr ? CB_ERR : combo->currentIndex();
  });
}

// --- slider --------------------------------------------------------------------

void QtDialog::SliderSetRange(int id, int minimum, int maximum) {
  OnWindowThread([=, this] {
    auto* slider = Widget<QSlider>(id, ControlKind::Slider);
    if (slider == nullptr) return;
    ++silence_;
    slider->setRange(minimum, maximum);
    --silence_;
  });
}

void QtDialog::SliderSetPos(int id, int position) {
  OnWindowThread([=, this] {
    auto* slider = Widget<QSlider>(id, ControlKind::Slider);
    if (slider == nullptr) return;
    ++silence_;
    slider->setValue(position);
    --silence_;
  });
}

int QtDialog::SliderGetPos(int id) const {
  return OnWindowThread([=, this] {
    auto* slider = Widget<QSlider>(id, ControlKind::Slider);
    return slider == nullptr ? 0 : slider->value();
  });
}

void QtDialog::SliderSetTick(int id, int position) {
  OnWindowThread([=, this] {
    auto* slider = Widget<QSlider>(id, ControlKind::Slider);
    if (slider == nullptr) return;
    auto& ticks = const_cast<Control*>(Find(id))->ticks;
    ticks.push_back(position);
    // The slider draws evenly spaced marks: the common spacing of the set ticks.
    int spacing = 0;
    for (int tick : ticks) spacing = std::gcd(spacing, tick - slider->minimum());
    slider->setTickInterval(std::max(spacing, 1));
    slider->setTickPosition(QSlider::TicksBelow);
  });
}

std::vector<int> QtDialog::SliderTicks(int id) const {
  return OnWindowThread([=, this] {
    const Control* c = Find(id);
    return c == nullptr ? std::vector<int>{} : c->ticks;
  });
}

// --- progress bar ------------------------------------------------------------------

void QtDialog::ProgressSetPos(int id, int position) {
  OnWindowThread([=, this] {
    if (auto* bar = Widget<QProgressBar>(id, ControlKind::Progress)) {
      bar->setValue(std::clamp(position, bar->minimum(), bar->maximum()));
    }
  });
}

int QtDialog::ProgressGetPos(int id) const {
  return OnWindowThread([=, this] {
    auto* bar = Widget<QProgressBar>(id, ControlKind::Progress);
    return bar == nullptr ? 0 : bar->value();
  });
}

// --- list view ---------------------------------------------------------------------

namespace {

// The rows the view shows selected, ascending.
std::vector<int> ViewSelection(const QTreeWidget& list) {
  std::vector<int> rows;
  for (const QModelIndex& index : list.selectionModel()->selectedRows()) rows.push_back(index.row());
  std::sort(rows.begin(), rows.end());
  return rows;
}

bool Contains(const std::vector<int>& rows, int row) { return std::binary_search(rows.begin(), rows.end(), row); }

}  // namespace

void QtDialog::ShowSelection(const Control& control) {
  auto* list = static_cast<QTreeWidget*>(control.widget);
  if (ViewSelection(*list) == control.selected) return;
  ++silence_;
  QItemSelection selection;
  for (int row : control.selected) {
    const QModelIndex index = list->model()->index(row, 0);
    if (index.isValid()) selection.select(index, index);
  }
  list->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  --silence_;
}

void QtDialog::ChangeSelection(Control& control, int row, bool select) {
  auto& rows = control.selected;
  if (Contains(rows, row) == select) return;
  if (select) {
    rows.insert(std::upper_bound(rows.begin(), rows.end(), row), row);
  } else {
    rows.erase(std::lower_bound(rows.begin(), rows.end(), row));
  }
  ShowSelection(control);
  SendNotify(control.id, LVN_ITEMCHANGED, row, select ? 0 : LVIS_SELECTED, select ? LVIS_SELECTED : 0);
}

void QtDialog::OnUserSelection(int id) {
  if (silence_ > 0) return;
  Control* control = Find(id);
  if (control == nullptr) return;
  const std::vector<int> now = ViewSelection(*static_cast<QTreeWidget*>(control->widget));
  std::vector<int> lost, gained;
  std::set_difference(control->selected.begin(), control->selected.end(), now.begin(), now.end(),
                      std::back_inserter(lost));
  std::set_difference(now.begin(), now.end(), control->selected.begin(), control->selected.end(),
                      std::back_inserter(gained));
  // Windows reports the losses, then the gains, each once its own change holds: the
  // view takes the changes one at a time. When the procedure changes the selection
  // itself meanwhile, the rest of the user's change is dropped.
  std::vector<int> expected = control->selected;
  for (int row : lost) {
    if (control->selected != expected) return;
    expected.erase(std::lower_bound(expected.begin(), expected.end(), row));
    ChangeSelection(*control, row, false);
  }
  for (int row : gained) {
    if (control->selected != expected) return;
    expected.insert(std::upper_bound(expected.begin(), expected.end(), row), row);
    ChangeSelection(*control, row, true);
  }
}

void QtDialog::OnUserClick(int id, QPoint point) {
  auto* list = Widget<QTreeWidget>(id, ControlKind::ListView);
  if (list == nullptr || !list->isEnabled()) return;
  const QModelIndex index = list->indexAt(point);
  SendNotify(id, NM_CLICK, index.isValid() ? index.row() : -1);
}

void QtDialog::ListSetFullRowSelect(int id, bool on) {
  OnWindowThread([=, this] {
    if (auto* list = Widget<QTreeWidget>(id, ControlKind::ListView)) list->setAllColumnsShowFocus(on);
  });
}

void QtDialog::ListInsertColumn(int id, int column, const std::string& title, int width) {
  OnWindowThread([&, this] {
    auto* list = Widget<QTreeWidget>(id, ControlKind::ListView);
    if (list == nullptr) return;
    QStringList titles;
    if (!list->isHeaderHidden()) {
      for (int i = 0; i < list->columnCount(); ++i) titles << list->headerItem()->text(i);
    }
    std::vector<int> widths;
    for (int i = 0; i < titles.size(); ++i) widths.push_back(list->columnWidth(i));
    const int at = std::clamp(column, 0, static_cast<int>(titles.size()));
    titles.insert(at, Q(title));
    widths.insert(widths.begin() + at, width);
    list->setColumnCount(static_cast<int>(titles.size()));
    list->setHeaderLabels(titles);
    list->setHeaderHidden(false);
    for (int i = 0; i < static_cast<int>(widths.size()); ++i) list->setColumnWidth(i, widths[static_cast<std::size_t>(i)]);
  });
}

std::vector<std::string> QtDialog::ListColumns(int id) const {
  return OnWindowThread([=, this] {
    std::vector<std::string> titles;
    auto* list = Widget<QTreeWidget>(id, ControlKind::ListView);
    if (list == nullptr || list->isHeaderHidden()) return titles;
    for (int i = 0; i < list->columnCount(); ++i) titles.push_back(S(list->headerItem()->text(i)));
    return titles;
  });
}

int QtDialog::ListInsertItem(int id, int index, const std::string& text) {
  return OnWindowThread([&, this] {
    Control* control = Find(id);
    if (control == nullptr || control->kind != ControlKind::ListView) return -1;
    auto* list = static_cast<QTreeWidget*>(control->widget);
    const int at = std::clamp(index, 0, list->topLevelItemCount());
    auto* item = new QTreeWidgetItem();
    item->setText(0, Q(text));
    item->setToolTip(0, Q(text));
    ++silence_;
    list->insertTopLevelItem(at, item);
    --silence_;
    for (int& row : control->selected) row += row >= at ? 1 : 0;
    ShowSelection(*control);
    SendNotify(id, LVN_INSERTITEM, at);
    return at;
  });
}

void QtDialog::ListSetItemText(int id, int item, int subItem, const std::string& text) {
  OnWindowThread([&, this] {
    auto* list = Widget<QTreeWidget>(id, ControlKind::ListView);
    if (list == nullptr || subItem < 0) return;
    if (QTreeWidgetItem* row = list->topLevelItem(item)) {
      row->setText(subItem, Q(text));
      row->setToolTip(subItem, Q(text));
    }
  });
}

std::string QtDialog::ListItemText(int id, int item, int subItem) const {
  return OnWindowThread([=, this]() -> std::string {
    auto* list = Widget<QTreeWidget>(id, ControlKind::ListView);
    if (list == nullptr || subItem < 0) return {};
    const QTreeWidgetItem* row = list->topLevelItem(item);
    return row == nullptr ? std::string() : S(row->text(subItem));
  });
}

bool QtDialog::ListDeleteItem(int id, int item) {
  return OnWindowThread([=, this] {
    Control* control = Find(id);
    if (control == nullptr || control->kind != ControlKind::ListView) return false;
    auto* list = static_cast<QTreeWidget*>(control->widget);
    if (item < 0 || item >= list->topLevelItemCount()) return false;
    ChangeSelection(*control, item, false);
    SendNotify(id, LVN_DELETEITEM, item);
    // The procedure may have changed the list meanwhile.
    if (item >= list->topLevelItemCount()) return false;
    ++silence_;
    std::unique_ptr<QTreeWidgetItem> removed(list->takeTopLevelItem(item));
    --silence_;
    auto& rows = control->selected;
    rows.erase(std::remove(rows.begin(), rows.end(), item), rows.end());
    for (int& row : rows) row -= row > item ? 1 : 0;
    ShowSelection(*control);
    return true;
  });
}

void QtDialog::ListDeleteAllItems(int id) {
  OnWindowThread([=, this] {
    Control* control = Find(id);
    if (control == nullptr || control->kind != ControlKind::ListView) return;
    auto* list = static_cast<QTreeWidget*>(control->widget);
    control->selected.clear();
    ShowSelection(*control);
    SendNotify(id, LVN_DELETEALLITEMS, -1);
    const int count = list->topLevelItemCount();
    for (int i = 0; i < count && i < list->topLevelItemCount(); ++i) SendNotify(id, LVN_DELETEITEM, i);
    ++silence_;
    list->clear();
    --silence_;
    control->selected.clear();
  });
}

int QtDialog::ListCount(int id) const {
  return OnWindowThread([=, this] {
    auto* list = Widget<QTreeWidget>(id, ControlKind::ListView);
    return list == nullptr ? 0 : list->topLevelItemCount();
  });
}

int QtDialog::ListGetSel(int id) const {
  return OnWindowThread([=, this] {
    const Control* control = Find(id);
    if (control == nullptr || control->kind != ControlKind::ListView || control->selected.empty()) return -1;
    return control->selected.front();
  });
}

void QtDialog::ListSetSel(int id, int item) {
  OnWindowThread([=, this] {
    Control* control = Find(id);
    if (control == nullptr || control->kind != ControlKind::ListView) return;
    auto* list = static_cast<QTreeWidget*>(control->widget);
    if (item < -1 || item >= list->topLevelItemCount()) return;
    if (item >= 0 && Contains(control->selected, item)) return;
    // A single-selection list lets go of its selected item first; -1 lets go of all.
    if (item == -1 || list->selectionMode() == QAbstractItemView::SingleSelection) {
      const std::vector<int> previous = control->selected;
      for (int row : previous) ChangeSelection(*control, row, false);
    }
    if (item >= 0) ChangeSelection(*control, item, true);
  });
}

// --- the window ------------------------------------------------------------------------

void QtDialog::SetTitle(const std::string& title) {
  OnWindowThread([&, this] { surface_->setWindowTitle(Q(title)); });
}

std::string QtDialog::Title() const {
  return OnWindowThread([this] { return S(surface_->windowTitle()); });
}

RECT QtDialog::ClientRect() const {
  return OnWindowThread([this] { return RECT{0, 0, surface_->width(), surface_->height()}; });
}

void QtDialog::AcceptFiles(bool accept) {
  OnWindowThread([=, this] { surface_->setAcceptDrops(accept); });
}

void QtDialog::BringToFront() {
  OnWindowThread([this] {
    if (surface_->isMinimized()) {
      surface_->showNormal();
    } else {
      surface_->show();
    }
    surface_->raise();
    surface_->activateWindow();
  });
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

int QtDialog::MessageBox(const std::string& text, const std::string& caption, UINT type) {
  // Another thread's box is shown by the window's thread, whose loop keeps serving
  // while the calling thread waits for the answer.
  return OnWindowThread([&, this] {
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    if ((type & 0xF0) == MB_ICONERROR) icon = QMessageBox::Critical;
    if ((type & 0xF0) == MB_ICONINFORMATION) icon = QMessageBox::Information;
    QMessageBox box(icon, Q(caption), Q(text), QMessageBox::Ok, surface_.get());
    box.setWindowModality(Qt::WindowModal);
    box.exec();
    return IDOK;
  });
}

std::optional<std::vector<std::string>> QtDialog::OpenFiles(const OpenFileRequest& request) {
  return OnWindowThread([&, this]() -> std::optional<std::vector<std::string>> {
    // Qt's own dialog rather than the desktop's: the same on every desktop.
    QFileDialog dialog(surface_.get());
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    // The filter list shows each description as given, without the patterns behind it.
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(request.multiSelect ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
    if (!request.title.empty()) dialog.setWindowTitle(Q(request.title));
    // Each filter as "description (patterns)", its ';'-separated patterns space-separated,
    // matched in any letter case.
    QStringList filters;
    for (const auto& [description, patterns] : request.filters) {
      const QString spaced = Q(patterns).split(QLatin1Char(';'), Qt::SkipEmptyParts).join(QLatin1Char(' '));
      filters << Q(description) + QStringLiteral(" (") + spaced + QStringLiteral(")");
    }
    dialog.setFilter(dialog.filter() & ~QDir::CaseSensitive);
    if (!filters.isEmpty()) dialog.setNameFilters(filters);
    dialog.setDirectory(StartingFolder(request.initialFolder));
    dialog.setWindowModality(Qt::WindowModal);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    std::vector<std::string> paths;
    for (const QString& path : dialog.selectedFiles()) paths.push_back(S(QFileInfo(path).absoluteFilePath()));
    if (paths.empty()) return std::nullopt;
    return paths;
  });
}

std::optional<std::string> QtDialog::BrowseForFolder(const std::string& title, const std::string& initialFolder) {
  return OnWindowThread([&, this]() -> std::optional<std::string> {
    QFileDialog dialog(surface_.get(), Q(title));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    dialog.setFileMode(QFileDialog::Directory);
    // The current folder stands selected among its neighbours, as in a folder tree.
    const QFileInfo start(QDir::cleanPath(Q(initialFolder)));
    if (!initialFolder.empty() && start.isDir() && !QDir(start.absoluteFilePath()).isRoot()) {
      dialog.setDirectory(start.absolutePath());
      dialog.selectFile(start.fileName());
    } else {
      dialog.setDirectory(StartingFolder(initialFolder));
    }
    dialog.setWindowModality(Qt::WindowModal);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty() || !QFileInfo(chosen.first()).isDir()) return std::nullopt;
    return S(QFileInfo(chosen.first()).absoluteFilePath());
  });
}

}  // namespace ui::qt
