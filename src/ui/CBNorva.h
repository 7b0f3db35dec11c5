#pragma once

#include <QComboBox>
#include <QStringList>

// Pick-only drop-down list that keeps a code and a status beside every entry, in two lists
// parallel to the entries, and widens its open list to the widest entry.
//
// Add, Insert, Delete and Clear keep the three lists in step; a change made directly through
// the entries, ItemsCodigo(), ItemsStatus() or the setters touches that one list only. The
// status list may be shorter than the others.
class TCBNorva : public QComboBox
{
    Q_OBJECT

public:
    explicit TCBNorva(QWidget* parent = nullptr);

    // The control's own lists: callers may read or change them in place.
    QStringList& ItemsCodigo() { return FItemsCodigo; }
    const QStringList& ItemsCodigo() const { return FItemsCodigo; }
    QStringList& ItemsStatus() { return FItemsStatus; }
    const QStringList& ItemsStatus() const { return FItemsStatus; }
    // Replace the texts of one list; the entries and the other list stay as they are.
    void setItemsCodigo(const QStringList& Value);
    void setItemsStatus(const QStringList& Value);

    // Append an entry with its code (and status, empty when not given). False when the entry
    // was refused (the control is full, see maxCount()); then no list changes.
    bool Add(const QString& item, const QString& itemCodigo);
    bool Add(const QString& item, const QString& itemCodigo, const QString& itemStatus);
    // Insert at Index, 0 <= Index <= count(). False, and no list changes, for any other index
    // or when the control is full.
    bool Insert(int Index, const QString& item, const QString& itemCodigo);
    bool Insert(int Index, const QString& item, const QString& itemCodigo,
                const QString& itemStatus);
    // Delete entry index with its code and status; a missing code or status is no failure.
    // False when nothing was deleted: a negative index (nothing selected) or one at or beyond
    // count(); then no list changes.
    bool Delete(int index);
    // Empties the entries, the displayed text, the selection and both lists.
    void Clear();

    // Widens the list before it opens.
    void showPopup() override;

Q_SIGNALS:
    // The list is about to open; entries a handler adds or removes here are measured.
    void dropDown();

protected:
    // Emits dropDown(), then sets the list's minimum width to the widest entry measured in a
    // plain font built from the control's font, plus a scroll bar's allowance.
    virtual void DropDown();

private:
    QStringList FItemsCodigo;
    QStringList FItemsStatus;
};
