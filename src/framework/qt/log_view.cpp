#include "framework/qt/log_view.h"

#include <QClipboard>
#include <QContextMenuEvent>
#include <QEvent>
#include <QFontInfo>
#include <QGlyphRun>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionFocusRect>
#include <QStyleOptionSlider>
#include <QTimerEvent>
#include <algorithm>
#include <cstdlib>
#include <limits>
#include <optional>
#include <utility>

#include "records/record_format.h"

namespace fw::qt {

namespace {

// Repaints only when what it shows changes. A log that grows by a line per reply changes the
// range every time, but the thumb moves by whole pixels only now and then and, after a few hundred
// lines, stays at its smallest at the bottom. Each repaint is costly beyond its size: the styles
// fill the bar's full height, and Qt spreads fills that tall over its worker threads.
class LogScrollBar final : public QScrollBar {
 public:
  using QScrollBar::QScrollBar;

 protected:
  // The view sets steps, range and value one after the other, and the steps even unchanged;
  // the look is compared once they are all set, in the same pass of the event loop.
  void sliderChange(SliderChange change) override {
    if (change == SliderOrientationChange || !shown_) {
      QScrollBar::sliderChange(change);
      return;
    }
    if (checkQueued_) return;
    checkQueued_ = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
          checkQueued_ = false;
          if (!shown_ || *shown_ != Current()) update();
        },
        Qt::QueuedConnection);
  }

  void paintEvent(QPaintEvent* e) override {
    shown_ = Current();
    QScrollBar::paintEvent(e);
  }

 private:
  struct Look {
    QRect slider;
    bool atMinimum = false;  // a style may draw the arrow buttons disabled at either end
    bool atMaximum = false;
    bool operator==(const Look&) const = default;
  };

  [[nodiscard]] Look Current() const {
    QStyleOptionSlider opt;
    initStyleOption(&opt);
    return {style()->subControlRect(QStyle::CC_ScrollBar, &opt, QStyle::SC_ScrollBarSlider, this),
            value() == minimum(), value() == maximum()};
  }

  std::optional<Look> shown_;  // as last painted
  bool checkQueued_ = false;
};

// A tooltip does not wrap plain text: a long line is broken at blanks (or anywhere in a run
// without one) so that it fits on the screen.
std::string TipLines(std::string_view line) {
  constexpr size_t kWidth = 100;
  std::string out;
  while (line.size() > kWidth) {
    size_t cut = line.rfind(' ', kWidth);
    if (cut == std::string_view::npos || cut == 0) cut = kWidth;
    out.append(line.substr(0, cut));
    out += '\n';
    line.remove_prefix(cut);
    while (!line.empty() && line.front() == ' ') line.remove_prefix(1);
  }
  out.append(line);
  return out;
}

}  // namespace

// ---- model ----

bool LogModel::Append(std::string_view line, int64_t timeMs) {
  if (line.size() > std::numeric_limits<uint32_t>::max() - text_.size()) return false;
  const int row = Count();
  if (row == std::numeric_limits<int>::max()) return false;
  beginInsertRows(QModelIndex(), row, row);
  text_.append(line);
  ends_.push_back(static_cast<uint32_t>(text_.size()));
  times_.push_back(timeMs);
  endInsertRows();
  return true;
}

void LogModel::Clear() {
  beginResetModel();
  // Give the memory back: a cleared log may have held a day's lines.
  std::string().swap(text_);
  std::vector<uint32_t>().swap(ends_);
  std::vector<int64_t>().swap(times_);
  endResetModel();
}

int64_t LogModel::Time(int row) const {
  return row >= 0 && row < Count() ? times_[row] : 0;
}

void LogModel::SetShowTimes(bool show) {
  if (show == showTimes_) return;
  showTimes_ = show;
  if (Count() > 0) emit dataChanged(index(0), index(Count() - 1), {Qt::DisplayRole});
}

std::string LogModel::Shown(int row) const {
  return records::ShownLine(Time(row), Line(row), showTimes_);
}

void LogModel::ShownText(int row, QString& out) const {
  std::string shown;
  const std::string_view line = showTimes_ ? std::string_view(shown = Shown(row)) : Line(row);
  out.resize(static_cast<qsizetype>(line.size()));  // keeps the buffer: no allocation per row
  QChar* to = out.data();
  for (const char c : line) *to++ = QChar(static_cast<uchar>(c));
}

std::string_view LogModel::Line(int row) const {
  if (row < 0 || row >= Count()) return {};
  const uint32_t begin = row == 0 ? 0 : ends_[row - 1];
  return std::string_view(text_).substr(begin, ends_[row] - begin);
}

int LogModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : Count();
}

QVariant LogModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid()) return {};
  if (role == Qt::ToolTipRole) {
    // The whole line, which the view may cut, under its date and time.
    const std::string tip =
        records::DateTimeLocal(Time(index.row())) + '\n' + TipLines(Line(index.row()));
    return QString::fromLatin1(tip.data(), static_cast<qsizetype>(tip.size()));
  }
  // What a screen reader reads is what the line shows.
  if (role != Qt::DisplayRole && role != Qt::AccessibleTextRole) return {};
  QString text;
  ShownText(index.row(), text);
  return text;
}

Qt::ItemFlags LogModel::flags(const QModelIndex& index) const {
  return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren
                         : Qt::NoItemFlags;
}

// ---- view ----

LogView::LogView(QWidget* parent) : QListView(parent) {
  setVerticalScrollBar(new LogScrollBar(Qt::Vertical, this));  // owned by the view
  setUniformItemSizes(true);
  setSelectionMode(QAbstractItemView::ExtendedSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
  setTextElideMode(Qt::ElideNone);
  setWordWrap(false);
  setDragEnabled(false);
  rowHeight_ = std::max(1, fontMetrics().height() + 2);
  LoadGlyphs();
  // Only the user moves the bar through actions: scrolled to the bottom, the view follows again.
  connect(verticalScrollBar(), &QScrollBar::actionTriggered, this, [this](int) {
    const QScrollBar* bar = verticalScrollBar();
    following_ = bar->sliderPosition() >= bar->maximum();
  });
}

void LogView::SetLogModel(LogModel* model) {
  model_ = model;
  setModel(model);
}

int LogView::RowCount() const {
  return model_ ? model_->Count() : 0;
}

int LogView::FullRowsVisible() const {
  return std::max(1, viewport()->height() / rowHeight_);
}

int LogView::FirstVisibleRow() const {
  return verticalScrollBar()->value();
}

void LogView::MakeCurrentLater(int row) {
  if (!following_ && row >= 0) return;
  current_ = row;
  scrollTarget_ = row;
  currentChanged_ = true;
  RequestSync();
}

void LogView::Follow() {
  following_ = true;
  if (selectionModel()) selectionModel()->clearSelection();
  MakeCurrentLater(RowCount() - 1);
}

std::string LogView::SelectedText() const {
  std::string out;
  if (!model_ || !selectionModel()) return out;
  std::vector<std::pair<int, int>> ranges;
  for (const QItemSelectionRange& r : selectionModel()->selection()) {
    ranges.emplace_back(r.top(), r.bottom());
  }
  std::sort(ranges.begin(), ranges.end());
  int next = 0;  // rows below this are written already: ranges may overlap
  for (const auto& [top, bottom] : ranges) {
    for (int row = std::max(top, next); row <= bottom && row < RowCount(); ++row) {
      out += model_->Shown(row);
      out.push_back('\n');
    }
    next = std::max(next, bottom + 1);
  }
  return out;
}

void LogView::CopySelection() const {
  const std::string text = SelectedText();
  if (text.empty()) return;
  QGuiApplication::clipboard()->setText(
      QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())));
}

void LogView::keyPressEvent(QKeyEvent* e) {
  const auto mods = e->modifiers() & ~Qt::KeypadModifier;
  if (e->matches(QKeySequence::Copy)) {
    CopySelection();
    e->accept();
  } else if (e->key() == Qt::Key_End && (mods == Qt::NoModifier || mods == Qt::ControlModifier)) {
    Follow();
    e->accept();
  } else if (e->key() == Qt::Key_F10 && mods == Qt::ShiftModifier) {
    if (onMenu) onMenu(viewport()->mapToGlobal(QPoint(0, 0)));
    e->accept();
  } else {
    QListView::keyPressEvent(e);
  }
}

void LogView::contextMenuEvent(QContextMenuEvent* e) {
  if (onMenu) onMenu(e->globalPos());
  e->accept();
}

void LogView::RequestSync() {
  // A line now and then is shown on the next pass. A stream is shown in batches at most kSyncMs
  // apart, each new row painted once per batch: the dispatch tick that finds the last batch old
  // enough shows the next. The fallback, set a little past that tick, shows the rows a stream
  // ended with, or a line that came soon after the last batch.
  const qint64 since = lastSync_.isValid() ? lastSync_.elapsed() : kSyncMs;
  if (since < kSyncMs) {
    if (!fallback_.isActive()) {
      fallback_.start(static_cast<int>(kSyncMs + kFallbackSlackMs - since), Qt::CoarseTimer, this);
    }
    return;
  }
  if (syncQueued_) return;
  syncQueued_ = true;
  QMetaObject::invokeMethod(
      this, [this] { Sync(); }, Qt::QueuedConnection);
}

void LogView::timerEvent(QTimerEvent* e) {
  if (e->timerId() != fallback_.timerId()) {
    QListView::timerEvent(e);
    return;
  }
  Sync();
}

void LogView::Sync() {
  syncQueued_ = false;
  fallback_.stop();
  lastSync_.start();
  updateGeometries();
  const int target = scrollTarget_;
  scrollTarget_ = -1;
  const bool currentChanged = std::exchange(currentChanged_, false);
  if (target >= 0 && target < RowCount() && model_) scrollTo(model_->index(target), EnsureVisible);
  // The caret follows the current line, so that the keyboard goes on from there; it is drawn
  // only while the list has the focus, and no line is ever highlighted.
  const QModelIndex current =
      current_ >= 0 && current_ < RowCount() && model_ ? model_->index(current_) : QModelIndex();
  if (currentChanged && selectionModel() && currentIndex() != current) {
    selectionModel()->setCurrentIndex(current, QItemSelectionModel::NoUpdate);
  }
  // Only the rows from the first new one down change; the scroll has moved the others already.
  const int from = std::exchange(dirtyFrom_, -1);
  if (from >= 0) {
    const int y = std::max(0, (from - FirstVisibleRow()) * rowHeight_);
    if (y < viewport()->height()) {
      viewport()->update(0, y, viewport()->width(), viewport()->height() - y);
    }
  }
}

QRect LogView::visualRect(const QModelIndex& index) const {
  if (!index.isValid() || index.row() >= RowCount()) return {};
  const int y = (index.row() - FirstVisibleRow()) * rowHeight_;
  return QRect(0, y, viewport()->width(), rowHeight_);
}

void LogView::scrollTo(const QModelIndex& index, ScrollHint hint) {
  if (!index.isValid()) return;
  const int row = index.row();
  const int first = FirstVisibleRow();
  const int rows = FullRowsVisible();
  int top = first;
  switch (hint) {
    case PositionAtTop:
      top = row;
      break;
    case PositionAtBottom:
      top = row - rows + 1;
      break;
    case PositionAtCenter:
      top = row - rows / 2;
      break;
    case EnsureVisible:
      if (row < first) {
        top = row;
      } else if (row >= first + rows) {
        top = row - rows + 1;
      }
      break;
  }
  verticalScrollBar()->setValue(std::max(0, top));
}

QModelIndex LogView::indexAt(const QPoint& p) const {
  if (!model_ || p.y() < 0) return {};
  const int row = FirstVisibleRow() + p.y() / rowHeight_;
  return row < RowCount() ? model_->index(row) : QModelIndex();
}

void LogView::doItemsLayout() {
  // Nothing to lay out per row: only the scroll range follows the row count.
  QAbstractItemView::doItemsLayout();
}

void LogView::keyboardSearch(const QString& /*search*/) {
  // Typing in a log finds nothing: a search through a day's lines per key would stall the window.
}

bool LogView::event(QEvent* e) {
  if (e->type() == QEvent::FontChange) {
    rowHeight_ = std::max(1, fontMetrics().height() + 2);
    LoadGlyphs();
  }
  return QAbstractItemView::event(e);
}

void LogView::scrollContentsBy(int /*dx*/, int dy) {
  // dy counts rows. Moving the pixels already drawn leaves only the uncovered rows to paint: a
  // log that scrolls by a line per reply repaints that line, not the whole list.
  const int pixels = dy * rowHeight_;
  if (std::abs(pixels) < viewport()->height()) {
    viewport()->scroll(0, pixels);
  } else {
    viewport()->update();
  }
}

void LogView::dataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight,
                          const QList<int>& roles) {
  QAbstractItemView::dataChanged(topLeft, bottomRight, roles);
}

void LogView::rowsInserted(const QModelIndex& parent, int start, int end) {
  QAbstractItemView::rowsInserted(parent, start, end);
  dirtyFrom_ = dirtyFrom_ < 0 ? start : std::min(dirtyFrom_, start);
  RequestSync();
}

void LogView::rowsAboutToBeRemoved(const QModelIndex& parent, int start, int end) {
  QAbstractItemView::rowsAboutToBeRemoved(parent, start, end);
  dirtyFrom_ = 0;
  RequestSync();
}

void LogView::reset() {
  QListView::reset();
  dirtyFrom_ = 0;
  RequestSync();
}

void LogView::resizeEvent(QResizeEvent* e) {
  QAbstractItemView::resizeEvent(e);
  updateGeometries();
}

// Rows are drawn straight with the painter: through the item delegate and the style, each row
// asked the model for a dozen roles and laid its text out in a QTextLayout, which made painting
// the new lines most of what a streaming log cost.
void LogView::paintEvent(QPaintEvent* e) {
  if (!model_) return;
  QPainter painter(viewport());
  const int count = RowCount();
  const int first = FirstVisibleRow();
  const int from = first + std::max(0, e->rect().top()) / rowHeight_;
  const int to = std::min(count - 1, first + e->rect().bottom() / rowHeight_);
  if (from > to) return;
  const QPalette::ColorGroup group = !isEnabled()       ? QPalette::Disabled
                                     : isActiveWindow() ? QPalette::Active
                                                        : QPalette::Inactive;
  const QPalette& pal = palette();
  const QColor text = pal.color(group, QPalette::Text);
  const QColor selectedText = pal.color(group, QPalette::HighlightedText);
  const QBrush selectedBack = pal.brush(group, QPalette::Highlight);
  const int margin = style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, this) + 1;
  const int width = viewport()->width();
  const int baseline = (rowHeight_ - fontMetrics().height()) / 2 + fontMetrics().ascent();
  const int focusRow = hasFocus() && currentIndex().isValid() ? currentIndex().row() : -1;
  const QItemSelectionModel* selection = selectionModel();
  const bool anySelected = selection && selection->hasSelection();
  painter.setFont(font());
  painter.setPen(text);
  QString line;
  for (int row = from; row <= to; ++row) {
    const QRect rect(0, (row - first) * rowHeight_, width, rowHeight_);
    const bool selected = anySelected && selection->isRowSelected(row, QModelIndex());
    if (selected) {
      painter.fillRect(rect, selectedBack);
      painter.setPen(selectedText);
    }
    model_->ShownText(row, line);
    DrawLine(painter, QPointF(margin, rect.top() + baseline), line);
    if (selected) painter.setPen(text);
    if (row == focusRow) {
      QStyleOptionFocusRect focus;
      focus.initFrom(this);
      focus.rect = rect;
      focus.state |= QStyle::State_KeyboardFocusChange | QStyle::State_Item;
      focus.backgroundColor = selected ? selectedBack.color() : pal.color(group, QPalette::Base);
      style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, &painter, this);
    }
  }
}

void LogView::LoadGlyphs() {
  glyphs_ = AsciiGlyphs{};
  glyphs_.raw = QRawFont::fromFont(font());
  if (!glyphs_.raw.isValid() || !QFontInfo(font()).fixedPitch()) return;
  QString all;
  for (char16_t c = AsciiGlyphs::kFirst; c <= AsciiGlyphs::kLast; ++c) all.append(QChar(c));
  const QList<quint32> indexes = glyphs_.raw.glyphIndexesForString(all);
  const QList<QPointF> advances = glyphs_.raw.advancesForGlyphIndexes(indexes);
  if (indexes.size() != static_cast<qsizetype>(glyphs_.index.size()) ||
      advances.size() != indexes.size()) {
    return;
  }
  for (size_t i = 0; i < glyphs_.index.size(); ++i) {
    // A character the font lacks would need a fallback font: those lines take the shaper.
    if (indexes[static_cast<qsizetype>(i)] == 0) return;
    glyphs_.index[i] = indexes[static_cast<qsizetype>(i)];
    glyphs_.advance[i] = advances[static_cast<qsizetype>(i)].x();
  }
  glyphs_.usable = true;
}

void LogView::DrawLine(QPainter& painter, QPointF at, const QString& line) {
  if (line.isEmpty()) return;
  const bool ascii =
      glyphs_.usable && std::all_of(line.begin(), line.end(), [](QChar c) {
        return c.unicode() >= AsciiGlyphs::kFirst && c.unicode() <= AsciiGlyphs::kLast;
      });
  if (!ascii) {
    painter.drawText(at, line);
    return;
  }
  runIndexes_.resize(line.size());
  runPositions_.resize(line.size());
  qreal x = at.x();
  for (qsizetype i = 0; i < line.size(); ++i) {
    const size_t k = line[i].unicode() - AsciiGlyphs::kFirst;
    runIndexes_[i] = glyphs_.index[k];
    runPositions_[i] = QPointF(x, at.y());
    x += glyphs_.advance[k];
  }
  QGlyphRun run;
  run.setRawFont(glyphs_.raw);
  run.setGlyphIndexes(runIndexes_);
  run.setPositions(runPositions_);
  painter.drawGlyphRun(QPointF(0, 0), run);
}

int LogView::horizontalOffset() const {
  return 0;
}

int LogView::verticalOffset() const {
  return FirstVisibleRow() * rowHeight_;
}

QModelIndex LogView::moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers /*modifiers*/) {
  const int count = RowCount();
  if (!model_ || count == 0) return {};
  const QModelIndex cur = currentIndex();
  int row = cur.isValid() ? cur.row() : -1;
  const int page = FullRowsVisible();
  switch (cursorAction) {
    case MoveUp:
    case MovePrevious:
      row = row < 0 ? 0 : row - 1;
      break;
    case MoveDown:
    case MoveNext:
      row = row + 1;
      break;
    case MovePageUp:
      row -= page;
      break;
    case MovePageDown:
      row += page;
      break;
    case MoveHome:
      row = 0;
      break;
    case MoveEnd:
      row = count - 1;
      break;
    default:
      break;
  }
  return model_->index(std::clamp(row, 0, count - 1));
}

void LogView::setSelection(const QRect& rect, QItemSelectionModel::SelectionFlags command) {
  const int count = RowCount();
  if (!model_ || !selectionModel() || count == 0) return;
  const QRect r = rect.normalized();
  const int first = FirstVisibleRow();
  // Rows above the view have negative positions: round down, not toward zero.
  const auto rowAt = [&](int y) { return first + (y >= 0 ? y : y - rowHeight_ + 1) / rowHeight_; };
  // A click below the last line selects nothing, as in any list.
  if (rowAt(r.top()) >= count || rowAt(r.bottom()) < 0) {
    selectionModel()->select(QItemSelection(), command);
    return;
  }
  const int top = std::clamp(rowAt(r.top()), 0, count - 1);
  const int bottom = std::clamp(rowAt(r.bottom()), 0, count - 1);
  selectionModel()->select(QItemSelection(model_->index(top), model_->index(bottom)), command);
}

QRegion LogView::visualRegionForSelection(const QItemSelection& selection) const {
  QRegion region;
  const int first = FirstVisibleRow();
  const int last = first + FullRowsVisible();
  for (const QItemSelectionRange& r : selection) {
    const int top = std::max(r.top(), first);
    const int bottom = std::min(r.bottom(), last);
    if (top > bottom) continue;
    region +=
        QRect(0, (top - first) * rowHeight_, viewport()->width(), (bottom - top + 1) * rowHeight_);
  }
  return region;
}

void LogView::updateGeometries() {
  const int rows = FullRowsVisible();
  QScrollBar* bar = verticalScrollBar();
  bar->setSingleStep(1);
  bar->setPageStep(rows);
  bar->setRange(0, std::max(0, RowCount() - rows));
  QAbstractItemView::updateGeometries();
}

bool LogView::isIndexHidden(const QModelIndex& /*index*/) const {
  return false;
}

void LogView::selectionChanged(const QItemSelection& selected, const QItemSelection& deselected) {
  QAbstractItemView::selectionChanged(selected, deselected);
  // Lines selected by the user hold the view until End or the bottom of the bar.
  if (!selected.isEmpty()) following_ = false;
}

void LogView::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
  QAbstractItemView::currentChanged(current, previous);
}

}  // namespace fw::qt
