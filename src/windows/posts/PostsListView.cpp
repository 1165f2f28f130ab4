#include "windows/posts/PostsListView.h"

#include <QDataStream>
#include <QHeaderView>
#include <QPainter>
#include <QPaintEvent>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <algorithm>

PostsListView::PostsListView(QWidget *parent) : QAbstractItemView(parent), m_header(new QHeaderView(Qt::Horizontal, this))
{
    m_header->setObjectName(QStringLiteral("header"));
    m_header->setFocusPolicy(Qt::NoFocus);
    setHorizontalScrollMode(ScrollPerPixel);
    setVerticalScrollMode(ScrollPerItem);
    setSelectionBehavior(SelectRows);

    connect(m_header, &QHeaderView::sectionResized, this, [this] {
        updateGeometries();
        viewport()->update();
    });
    connect(m_header, &QHeaderView::sectionMoved, this, [this] {
        updateGeometries();
        viewport()->update();
    });
    connect(m_header, &QHeaderView::sectionCountChanged, this, &PostsListView::updateGeometries);
    connect(m_header, &QHeaderView::geometriesChanged, this, &PostsListView::updateGeometries);
    connect(m_header, &QHeaderView::sectionHandleDoubleClicked, this, &PostsListView::resizeColumnToContents);
}

PostsListView::~PostsListView() = default;

void PostsListView::setModel(QAbstractItemModel *newModel)
{
    if (newModel == model())
        return;
    if (QAbstractItemModel *old = model())
        disconnect(old, nullptr, this, nullptr);
    QAbstractItemView::setModel(newModel);
    m_header->setModel(newModel);
    if (newModel) {
        // The base view does nothing about the scroll range when rows go.
        connect(newModel, &QAbstractItemModel::rowsRemoved, this, &PostsListView::rowsChanged);
        connect(newModel, &QAbstractItemModel::layoutChanged, this, &PostsListView::rowsChanged);
    }
    updateGeometries();
}

int PostsListView::rowCount() const
{
    return model() ? model()->rowCount(rootIndex()) : 0;
}

int PostsListView::rowHeight() const
{
    return m_rowHeight > 0 ? m_rowHeight : fontMetrics().height() + 4;
}

void PostsListView::setRowHeight(int height)
{
    m_rowHeight = std::max(0, height);
    updateGeometries();
    viewport()->update();
}

int PostsListView::rowsFitting() const
{
    return std::max(1, viewport()->height() / rowHeight());
}

int PostsListView::rowAt(int y) const
{
    const qint64 position = qint64(y) + verticalOffset();
    if (y < 0 || position < 0)
        return -1;
    const qint64 row = position / rowHeight();
    return row < rowCount() ? int(row) : -1;
}

int PostsListView::firstVisibleRow() const
{
    return std::min(verticalOffset() / rowHeight(), rowCount());
}

int PostsListView::lastVisibleRow() const
{
    const qint64 bottom = qint64(verticalOffset()) + std::max(1, viewport()->height()) - 1;
    return int(std::min<qint64>(bottom / rowHeight(), qint64(rowCount()) - 1));
}

int PostsListView::firstLogicalColumn() const
{
    for (int visual = 0; visual < m_header->count(); ++visual) {
        const int logical = m_header->logicalIndex(visual);
        if (!m_header->isSectionHidden(logical))
            return logical;
    }
    return -1;
}

QModelIndex PostsListView::indexAt(const QPoint &point) const
{
    const int row = rowAt(point.y());
    const int column = m_header->logicalIndexAt(point.x());
    if (row < 0 || column < 0 || !model())
        return {};
    return model()->index(row, column, rootIndex());
}

QRect PostsListView::visualRect(const QModelIndex &index) const
{
    if (!index.isValid() || index.parent() != rootIndex() || m_header->isSectionHidden(index.column()))
        return {};
    const int height = rowHeight();
    const qint64 top = qint64(index.row()) * height - verticalOffset();
    return QRect(m_header->sectionViewportPosition(index.column()), int(std::clamp<qint64>(top, INT_MIN / 2, INT_MAX / 2)),
                 m_header->sectionSize(index.column()), height);
}

void PostsListView::scrollTo(const QModelIndex &index, ScrollHint hint)
{
    if (!index.isValid() || index.parent() != rootIndex() || index.row() >= rowCount())
        return;
    const int row = index.row();
    QScrollBar *vertical = verticalScrollBar();
    if (verticalScrollMode() == ScrollPerItem) {
        const int fitting = rowsFitting();
        const int top = vertical->value();
        switch (hint) {
        case EnsureVisible:
            if (row < top)
                vertical->setValue(row);
            else if (row >= top + fitting)
                vertical->setValue(row - fitting + 1);
            break;
        case PositionAtTop: vertical->setValue(row); break;
        case PositionAtBottom: vertical->setValue(row - fitting + 1); break;
        case PositionAtCenter: vertical->setValue(row - (fitting - 1) / 2); break;
        }
    } else {
        const int height = rowHeight();
        const int viewHeight = viewport()->height();
        const int top = row * height;
        switch (hint) {
        case EnsureVisible:
            if (top < vertical->value())
                vertical->setValue(top);
            else if (top + height > vertical->value() + viewHeight)
                vertical->setValue(top + height - viewHeight);
            break;
        case PositionAtTop: vertical->setValue(top); break;
        case PositionAtBottom: vertical->setValue(top + height - viewHeight); break;
        case PositionAtCenter: vertical->setValue(top - (viewHeight - height) / 2); break;
        }
    }

    const int column = index.column();
    if (m_header->isSectionHidden(column))
        return;
    QScrollBar *horizontal = horizontalScrollBar();
    const int left = m_header->sectionPosition(column);
    const int right = left + m_header->sectionSize(column);
    const int viewWidth = viewport()->width();
    if (left < horizontal->value())
        horizontal->setValue(left);
    else if (right > horizontal->value() + viewWidth)
        horizontal->setValue(std::min(left, right - viewWidth));
}

int PostsListView::sizeHintForRow(int) const
{
    return rowHeight();
}

int PostsListView::sizeHintForColumn(int column) const
{
    // Measured on the rows on screen only.
    if (!model() || column < 0 || column >= model()->columnCount(rootIndex()))
        return -1;
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    int width = 0;
    for (int row = firstVisibleRow(), last = lastVisibleRow(); row <= last; ++row) {
        const QModelIndex index = model()->index(row, column, rootIndex());
        width = std::max(width, itemDelegateForIndex(index)->sizeHint(option, index).width());
    }
    return width;
}

void PostsListView::resizeColumnToContents(int column)
{
    const int width = std::max(sizeHintForColumn(column), m_header->sectionSizeHint(column));
    if (width > 0)
        m_header->resizeSection(column, width);
}

QModelIndex PostsListView::moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers)
{
    const int rows = rowCount();
    if (rows == 0 || !model())
        return {};
    const QModelIndex current = currentIndex();
    const int column = current.isValid() && !m_header->isSectionHidden(current.column()) ? current.column()
                                                                                         : firstLogicalColumn();
    if (column < 0)
        return {};
    if (!current.isValid())
        return model()->index(0, column, rootIndex());

    const int row = current.row();
    const int fitting = rowsFitting();
    const int top = firstVisibleRow();
    const int bottom = std::min(rows - 1, top + fitting - 1);
    int target = row;
    switch (cursorAction) {
    case MoveUp:
    case MovePrevious: target = row - 1; break;
    case MoveDown:
    case MoveNext: target = row + 1; break;
    // As in a list view: first to the edge of the page, then a page further.
    case MovePageUp: target = row > top ? top : row - std::max(1, fitting - 1); break;
    case MovePageDown: target = row < bottom ? bottom : row + std::max(1, fitting - 1); break;
    case MoveHome: target = 0; break;
    case MoveEnd: target = rows - 1; break;
    case MoveLeft:
        horizontalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepSub);
        return current;
    case MoveRight:
        horizontalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
        return current;
    }
    return model()->index(std::clamp(target, 0, rows - 1), column, rootIndex());
}

int PostsListView::horizontalOffset() const
{
    return horizontalScrollBar()->value();
}

int PostsListView::verticalOffset() const
{
    const int value = verticalScrollBar()->value();
    return verticalScrollMode() == ScrollPerItem ? value * rowHeight() : value;
}

bool PostsListView::isIndexHidden(const QModelIndex &) const
{
    return false;
}

void PostsListView::setSelection(const QRect &rect, QItemSelectionModel::SelectionFlags command)
{
    const int rows = rowCount();
    QItemSelectionModel *selection = selectionModel();
    if (!selection || rows == 0)
        return;
    const int columns = model()->columnCount(rootIndex());
    if (columns == 0)
        return;
    // The rectangle may reach far outside the viewport (Shift+click on a row
    // scrolled away): rows come from arithmetic, clamped to the list.
    const QRect area = rect.normalized();
    const int height = rowHeight();
    const qint64 offset = verticalOffset();
    const auto rowOf = [&](int y) {
        const qint64 position = qint64(y) + offset;
        return int(std::clamp<qint64>(position < 0 ? -1 : position / height, 0, rows - 1));
    };
    const QItemSelection rangeRows(model()->index(rowOf(area.top()), 0, rootIndex()),
                                   model()->index(rowOf(area.bottom()), columns - 1, rootIndex()));
    selection->select(rangeRows, command);
}

QRegion PostsListView::visualRegionForSelection(const QItemSelection &selection) const
{
    QRegion region;
    const int first = firstVisibleRow();
    const int last = lastVisibleRow();
    if (last < first)
        return region;
    const int height = rowHeight();
    const int offset = verticalOffset();
    for (const QItemSelectionRange &range : selection) {
        if (!range.isValid() || range.parent() != rootIndex())
            continue;
        const int top = std::max(range.top(), first);
        const int bottom = std::min(range.bottom(), last);
        if (top <= bottom)
            region += QRect(0, top * height - offset, viewport()->width(), (bottom - top + 1) * height);
    }
    return region;
}

QByteArray PostsListView::paintSignature(const QStyleOptionViewItem &base) const
{
    // Everything besides a row's texts and state that changes its pixels.
    QByteArray signature;
    QDataStream out(&signature, QIODevice::WriteOnly);
    out << viewport()->width() << rowHeight() << horizontalOffset() << devicePixelRatio()
        << qint64(base.palette.cacheKey()) << int(base.palette.currentColorGroup()) << base.font.key()
        << quintptr(style()) << int(base.state) << int(base.features) << int(base.textElideMode)
        << int(base.displayAlignment) << quintptr(itemDelegate());
    for (int visual = 0; visual < m_header->count(); ++visual) {
        const int column = m_header->logicalIndex(visual);
        out << column << m_header->isSectionHidden(column) << m_header->sectionViewportPosition(column)
            << m_header->sectionSize(column);
    }
    return signature;
}

QPixmap PostsListView::rowImage(int row, const QStyleOptionViewItem &base, bool focused)
{
    const QItemSelectionModel *selection = selectionModel();
    const QModelIndex current = currentIndex();
    CachedRow key;
    key.alternate = alternatingRowColors() && row % 2 == 1;
    const int columns = model()->columnCount(rootIndex());
    key.texts.reserve(columns);
    key.states.reserve(columns);
    for (int column = 0; column < columns; ++column) {
        const QModelIndex index = model()->index(row, column, rootIndex());
        key.texts.append(index.data(Qt::DisplayRole).toString());
        key.states.append(char((selection && selection->isSelected(index) ? Selected : 0)
                               | (focused && index == current ? Focused : 0)
                               | (model()->flags(index) & Qt::ItemIsEnabled ? 0 : Disabled)));
    }
    ++m_paintGeneration;
    for (CachedRow &cached : m_rowCache) {
        if (cached.alternate == key.alternate && cached.states == key.states && cached.texts == key.texts) {
            cached.lastUsed = m_paintGeneration;
            return cached.image;
        }
    }

    const int height = rowHeight();
    const qreal ratio = devicePixelRatio();
    QPixmap image(QSize(viewport()->width(), height) * ratio);
    image.setDevicePixelRatio(ratio);
    image.fill(base.palette.color(QPalette::Base));
    QPainter painter(&image);
    for (int visual = 0; visual < m_header->count(); ++visual) {
        const int column = m_header->logicalIndex(visual);
        if (m_header->isSectionHidden(column))
            continue;
        const QRect cell(m_header->sectionViewportPosition(column), 0, m_header->sectionSize(column), height);
        if (cell.right() < 0 || cell.left() >= viewport()->width())
            continue;
        const QModelIndex index = model()->index(row, column, rootIndex());
        const char state = key.states.at(column);
        QStyleOptionViewItem option = base;
        option.rect = cell;
        if (state & Selected)
            option.state |= QStyle::State_Selected;
        if (state & Focused)
            option.state |= QStyle::State_HasFocus;
        if (key.alternate)
            option.features |= QStyleOptionViewItem::Alternate;
        if (state & Disabled) {
            option.state &= ~QStyle::State_Enabled;
            option.palette.setCurrentColorGroup(QPalette::Disabled);
        }
        style()->drawPrimitive(QStyle::PE_PanelItemViewRow, &option, &painter, this);
        itemDelegateForIndex(index)->paint(&painter, option, index);
    }
    painter.end();

    // Room for a few screens of rows; the ones longest unused go first.
    const size_t capacity = size_t(4 * rowsFitting() + 8);
    if (m_rowCache.size() >= capacity) {
        const auto oldest = std::min_element(m_rowCache.begin(), m_rowCache.end(),
                                             [](const CachedRow &a, const CachedRow &b) { return a.lastUsed < b.lastUsed; });
        m_rowCache.erase(oldest);
    }
    key.image = image;
    key.lastUsed = m_paintGeneration;
    m_rowCache.push_back(std::move(key));
    return image;
}

void PostsListView::paintEvent(QPaintEvent *event)
{
    if (!model())
        return;
    const QRect area = event->rect();
    const int rows = rowCount();
    const int height = rowHeight();
    const int offset = verticalOffset();
    const int first = std::max(firstVisibleRow(), (offset + std::max(0, area.top())) / height);
    const int last = std::min(lastVisibleRow(), (offset + area.bottom()) / height);
    if (rows == 0 || last < first)
        return;

    QStyleOptionViewItem base;
    initViewItemOption(&base);
    base.state &= ~QStyle::State_HasFocus;
    const bool focused = (hasFocus() || viewport()->hasFocus()) && currentIndex().isValid();

    // Each row is drawn once into an image and shown from it until its texts,
    // its state or the view's look change: a run that removes the first row
    // after every write then draws only the rows that change.
    const QByteArray signature = paintSignature(base);
    if (signature != m_cacheSignature) {
        m_rowCache.clear();
        m_cacheSignature = signature;
    }
    QPainter painter(viewport());
    for (int row = first; row <= last; ++row)
        painter.drawPixmap(QPoint(0, row * height - offset), rowImage(row, base, focused));
}

void PostsListView::scrollContentsBy(int, int)
{
    m_header->setOffset(horizontalScrollBar()->value());
    viewport()->update();
}

void PostsListView::updateGeometries()
{
    const int headerHeight = m_header->isHidden() ? 0 : m_header->sizeHint().height();
    if (viewportMargins() != QMargins(0, headerHeight, 0, 0))
        setViewportMargins(0, headerHeight, 0, 0);
    const QRect view = viewport()->geometry();
    m_header->setGeometry(view.left(), view.top() - headerHeight, view.width(), headerHeight);

    const int rows = rowCount();
    QScrollBar *vertical = verticalScrollBar();
    if (verticalScrollMode() == ScrollPerItem) {
        const int fitting = rowsFitting();
        vertical->setSingleStep(1);
        vertical->setPageStep(fitting);
        vertical->setRange(0, std::max(0, rows - fitting));
    } else {
        const int height = rowHeight();
        const qint64 length = qint64(rows) * height;
        vertical->setSingleStep(height);
        vertical->setPageStep(view.height());
        vertical->setRange(0, int(std::clamp<qint64>(length - view.height(), 0, INT_MAX)));
    }

    QScrollBar *horizontal = horizontalScrollBar();
    horizontal->setSingleStep(20);
    horizontal->setPageStep(view.width());
    horizontal->setRange(0, std::max(0, m_header->length() - view.width()));
    m_header->setOffset(horizontal->value());

    QAbstractItemView::updateGeometries();
}

void PostsListView::changeEvent(QEvent *event)
{
    QAbstractItemView::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)
        updateGeometries();
}

void PostsListView::reset()
{
    QAbstractItemView::reset();
    rowsChanged();
}

void PostsListView::rowsInserted(const QModelIndex &parent, int start, int end)
{
    QAbstractItemView::rowsInserted(parent, start, end);
    if (parent != rootIndex())
        return;
    updateGeometries();
    // A page appended below the rows on screen changes nothing on screen but the scroll bar.
    if (start <= lastVisibleRow())
        viewport()->update();
}

void PostsListView::rowsChanged()
{
    updateGeometries();
    viewport()->update();
}
