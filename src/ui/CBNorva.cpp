#include "ui/CBNorva.h"

#include <QAbstractItemView>
#include <QFont>
#include <QFontInfo>
#include <QFontMetrics>
#include <QStyle>
#include <algorithm>

namespace {

// A list shortened by its caller is padded with empty strings (a missing code or status) so
// that the new string still lands beside its entry.
void insertAligned(QStringList& list, int index, const QString& text)
{
    while (list.size() < index)
        list.append(QString());
    list.insert(index, text);
}

} // namespace

TCBNorva::TCBNorva(QWidget* parent) : QComboBox(parent)
{
    // Pick-only and unsorted: codes and statuses follow insertion order.
    setEditable(false);
}

void TCBNorva::setItemsCodigo(const QStringList& Value)
{
    FItemsCodigo = Value;
}

void TCBNorva::setItemsStatus(const QStringList& Value)
{
    FItemsStatus = Value;
}

bool TCBNorva::Add(const QString& item, const QString& itemCodigo)
{
    return Insert(count(), item, itemCodigo, QString());
}

bool TCBNorva::Add(const QString& item, const QString& itemCodigo, const QString& itemStatus)
{
    return Insert(count(), item, itemCodigo, itemStatus);
}

bool TCBNorva::Insert(int Index, const QString& item, const QString& itemCodigo)
{
    return Insert(Index, item, itemCodigo, QString());
}

bool TCBNorva::Insert(int Index, const QString& item, const QString& itemCodigo,
                      const QString& itemStatus)
{
    const int entries = count();
    // QComboBox clamps a bad index and, when full, drops the entry or the last one silently;
    // either would put the code and status lists out of step.
    if (Index < 0 || Index > entries || entries >= maxCount())
        return false;
    const int selected = currentIndex();
    insertItem(Index, item);
    if (count() != entries + 1)
        return false;
    // A pick-only QComboBox selects its first entry by itself; adding entries selects nothing.
    if (selected < 0)
        setCurrentIndex(-1);
    insertAligned(FItemsCodigo, Index, itemCodigo);
    insertAligned(FItemsStatus, Index, itemStatus);
    return true;
}

bool TCBNorva::Delete(int index)
{
    const int entries = count();
    if (index < 0 || index >= entries)
        return false;
    removeItem(index);
    if (count() == entries)
        return false;
    // Either list may have been shortened by its caller; a missing string is nothing to delete.
    if (index < FItemsCodigo.size())
        FItemsCodigo.removeAt(index);
    if (index < FItemsStatus.size())
        FItemsStatus.removeAt(index);
    return true;
}

void TCBNorva::Clear()
{
    clear();
    FItemsCodigo.clear();
    FItemsStatus.clear();
}

void TCBNorva::showPopup()
{
    DropDown();
    QComboBox::showPopup();
}

void TCBNorva::DropDown()
{
    Q_EMIT dropDown();

    // Only family, pixel size and boldness count; italic, underline and the rest are left at
    // their defaults.
    const QFont& controlFont = font();
    QFont measuring;
    measuring.setFamily(controlFont.family());
    measuring.setPixelSize(controlFont.pixelSize() > 0 ? controlFont.pixelSize()
                                                       : QFontInfo(controlFont).pixelSize());
    measuring.setWeight(controlFont.bold() ? QFont::Bold : QFont::Normal);
    const QFontMetrics metrics(measuring);

    int w = 0;
    const int entries = count();
    for (int i = 0; i < entries; ++i)
        w = std::max(w, metrics.horizontalAdvance(itemText(i)));

    // Room for a vertical scroll bar, read afresh because the style may change.
    const QStyle* s = style();
    w += s->pixelMetric(QStyle::PM_ScrollBarSliderMin, nullptr, this) +
         s->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);

    // The base opens the list at least as wide as the control.
    view()->setMinimumWidth(w);
}
