// QtDialog's construction: a widget for each control of the template, placed in
// dialog units of the template's font.
#include "ui/qt/qt_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QStyle>
#include <QTreeWidget>

#include <algorithm>
#include <functional>

namespace ui::qt {

namespace {

int MulDiv(int value, int numerator, int denominator) {
  const long long product = static_cast<long long>(value) * numerator;
  return static_cast<int>((product + denominator / 2) / denominator);
}

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

Qt::Alignment LabelAlignment(DWORD style) {
  switch (style & 0x3) {
    case kAlignCenter:
      return Qt::AlignHCenter | Qt::AlignTop;
    case kAlignRight:
      return Qt::AlignRight | Qt::AlignTop;
    default:
      return Qt::AlignLeft | Qt::AlignTop;
  }
}

}  // namespace

void QtDialog::Build() {
  QFont font(QString::fromLatin1(template_.fontFamily));
  font.setPointSize(template_.pointSize);
  surface_->setFont(font);
  // Dialog base units from the font, the way the Windows dialog manager takes them.
  const QFontMetrics metrics(font);
  const int average = metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
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

}  // namespace ui::qt
