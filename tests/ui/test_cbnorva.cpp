#include "ui/CBNorva.h"

#include <QAbstractItemView>
#include <QFont>
#include <QFontInfo>
#include <QFontMetrics>
#include <QProxyStyle>
#include <QStyle>
#include <functional>
#include <gtest/gtest.h>
#include <ostream>
#include <vector>

namespace {

QString S(const char* text)
{
    return QString::fromUtf8(text);
}

QStringList L(std::initializer_list<const char*> texts)
{
    QStringList list;
    for (const char* t : texts)
        list.append(S(t));
    return list;
}

// The three parallel lists, compared as one value.
struct Lists
{
    QStringList items, codes, status;
    bool operator==(const Lists&) const = default;
};

void PrintTo(const Lists& l, std::ostream* os)
{
    *os << "items [" << l.items.join(u'|').toStdString() << "] codes ["
        << l.codes.join(u'|').toStdString() << "] status [" << l.status.join(u'|').toStdString()
        << "]";
}

Lists Snapshot(const TCBNorva& c)
{
    Lists l;
    for (int i = 0; i < c.count(); ++i)
        l.items.append(c.itemText(i));
    l.codes = c.ItemsCodigo();
    l.status = c.ItemsStatus();
    return l;
}

void AddThree(TCBNorva& c)
{
    c.Add(S("AM"), S("a"), S("sa"));
    c.Add(S("BA"), S("b"), S("sb"));
    c.Add(S("ES"), S("e"), S("se"));
}

// ---- list operations ----

struct ListCase
{
    const char* name;
    std::function<void(TCBNorva&)> setup;
    std::function<bool(TCBNorva&)> action;
    bool result;
    Lists expected;
};

std::ostream& operator<<(std::ostream& os, const ListCase& c)
{
    return os << c.name;
}

class ListOperation : public testing::TestWithParam<ListCase>
{};

TEST_P(ListOperation, KeepsTheListsAsExpected)
{
    const ListCase& tc = GetParam();
    TCBNorva c;
    if (tc.setup)
        tc.setup(c);
    EXPECT_EQ(tc.action(c), tc.result);
    EXPECT_EQ(Snapshot(c), tc.expected);
}

const Lists kThree{L({"AM", "BA", "ES"}), L({"a", "b", "e"}), L({"sa", "sb", "se"})};

INSTANTIATE_TEST_SUITE_P(
    CBNorva, ListOperation,
    testing::Values(
        ListCase{"AddTwoArgumentsOnEmpty", nullptr,
                 [](TCBNorva& c) { return c.Add(S("AM"), S("u")); }, true,
                 {L({"AM"}), L({"u"}), L({""})}},
        ListCase{"AddThreeArgumentsAppends", AddThree,
                 [](TCBNorva& c) { return c.Add(S("SP"), S("s"), S("ss")); }, true,
                 {L({"AM", "BA", "ES", "SP"}), L({"a", "b", "e", "s"}),
                  L({"sa", "sb", "se", "ss"})}},
        ListCase{"AddRefusedWhenFull",
                 [](TCBNorva& c) {
                     c.setMaxCount(1);
                     c.Add(S("AM"), S("a"), S("sa"));
                 },
                 [](TCBNorva& c) { return c.Add(S("BA"), S("b")); }, false,
                 {L({"AM"}), L({"a"}), L({"sa"})}},
        ListCase{"InsertAtZeroMovesFormerEntry",
                 [](TCBNorva& c) { c.Add(S("BA"), S("b"), S("sb")); },
                 [](TCBNorva& c) { return c.Insert(0, S("AM"), S("a")); }, true,
                 {L({"AM", "BA"}), L({"a", "b"}), L({"", "sb"})}},
        ListCase{"InsertWithStatusInTheMiddle", AddThree,
                 [](TCBNorva& c) { return c.Insert(1, S("SP"), S("s"), S("ss")); }, true,
                 {L({"AM", "SP", "BA", "ES"}), L({"a", "s", "b", "e"}),
                  L({"sa", "ss", "sb", "se"})}},
        ListCase{"InsertAtCountAppends", AddThree,
                 [](TCBNorva& c) { return c.Insert(3, S("SP"), S("s")); }, true,
                 {L({"AM", "BA", "ES", "SP"}), L({"a", "b", "e", "s"}),
                  L({"sa", "sb", "se", ""})}},
        ListCase{"InsertNegativeRefused", AddThree,
                 [](TCBNorva& c) { return c.Insert(-1, S("SP"), S("s"), S("ss")); }, false,
                 kThree},
        ListCase{"InsertBeyondCountRefused", AddThree,
                 [](TCBNorva& c) { return c.Insert(4, S("SP"), S("s"), S("ss")); }, false,
                 kThree},
        // The base would insert and then drop the last entry.
        ListCase{"InsertRefusedWhenFull",
                 [](TCBNorva& c) {
                     AddThree(c);
                     c.setMaxCount(3);
                 },
                 [](TCBNorva& c) { return c.Insert(0, S("SP"), S("s")); }, false, kThree},
        ListCase{"InsertAfterStatusEmptiedKeepsStatusBesideItsEntry",
                 [](TCBNorva& c) {
                     AddThree(c);
                     c.ItemsStatus().clear();
                 },
                 [](TCBNorva& c) { return c.Insert(2, S("SP"), S("s"), S("ss")); }, true,
                 {L({"AM", "BA", "SP", "ES"}), L({"a", "b", "s", "e"}), L({"", "", "ss"})}},
        ListCase{"DeleteMinusOneChangesNothing", AddThree,
                 [](TCBNorva& c) { return c.Delete(-1); }, false, kThree},
        ListCase{"DeleteMiddleFromAllThree", AddThree, [](TCBNorva& c) { return c.Delete(1); },
                 true, {L({"AM", "ES"}), L({"a", "e"}), L({"sa", "se"})}},
        ListCase{"DeleteAfterStatusEmptied",
                 [](TCBNorva& c) {
                     AddThree(c);
                     c.ItemsStatus().clear();
                 },
                 [](TCBNorva& c) { return c.Delete(1); }, true,
                 {L({"AM", "ES"}), L({"a", "e"}), L({})}},
        ListCase{"DeleteWithShortCodeList",
                 [](TCBNorva& c) {
                     AddThree(c);
                     c.setItemsCodigo(L({"a"}));
                 },
                 [](TCBNorva& c) { return c.Delete(2); }, true,
                 {L({"AM", "BA"}), L({"a"}), L({"sa", "sb"})}},
        ListCase{"DeleteAtCountRefused", AddThree, [](TCBNorva& c) { return c.Delete(3); },
                 false, kThree},
        // A code list longer than the entries must not lose a string either.
        ListCase{"DeleteBeyondCountWithLongCodeListRefused",
                 [](TCBNorva& c) {
                     AddThree(c);
                     c.ItemsCodigo().append(S("x"));
                 },
                 [](TCBNorva& c) { return c.Delete(3); }, false,
                 {kThree.items, L({"a", "b", "e", "x"}), kThree.status}},
        ListCase{"ThreeCodesOnFiveEntries",
                 [](TCBNorva& c) {
                     AddThree(c);
                     c.Add(S("SP"), S("s"));
                     c.Add(S("CCC"), S("c"));
                 },
                 [](TCBNorva& c) {
                     c.setItemsCodigo(L({"x", "y", "z"}));
                     return true;
                 },
                 true,
                 {L({"AM", "BA", "ES", "SP", "CCC"}), L({"x", "y", "z"}),
                  L({"sa", "sb", "se", "", ""})}},
        ListCase{"SetStatusTouchesOnlyStatus", AddThree,
                 [](TCBNorva& c) {
                     c.setItemsStatus(L({"q"}));
                     return true;
                 },
                 true, {kThree.items, kThree.codes, L({"q"})}},
        ListCase{"SetCodesToTheirOwnList", AddThree,
                 [](TCBNorva& c) {
                     c.setItemsCodigo(c.ItemsCodigo());
                     return true;
                 },
                 true, kThree},
        ListCase{"CodesChangedInPlace", AddThree,
                 [](TCBNorva& c) {
                     c.ItemsCodigo()[1] = S("B2");
                     return true;
                 },
                 true, {kThree.items, L({"a", "B2", "e"}), kThree.status}}),
    [](const testing::TestParamInfo<ListCase>& info) { return std::string(info.param.name); });

TEST(CBNorva, ClearEmptiesListsTextAndSelection)
{
    TCBNorva c;
    AddThree(c);
    c.setCurrentIndex(1);
    ASSERT_EQ(c.currentText(), S("BA"));

    c.Clear();
    EXPECT_EQ(Snapshot(c), Lists{});
    EXPECT_EQ(c.currentText(), QString());
    EXPECT_EQ(c.currentIndex(), -1);

    // The lists start in step again.
    c.Add(S("SP"), S("s"));
    EXPECT_EQ(Snapshot(c), (Lists{L({"SP"}), L({"s"}), L({""})}));
}

TEST(CBNorva, AddingAndInsertingSelectNothingAndKeepTheSelection)
{
    TCBNorva c;
    AddThree(c);
    EXPECT_EQ(c.currentIndex(), -1);
    EXPECT_EQ(c.currentText(), QString());

    c.setCurrentIndex(1);
    ASSERT_TRUE(c.Insert(0, S("SP"), S("s")));
    EXPECT_EQ(c.currentText(), S("BA")) << "the selected entry stays selected";
}

TEST(CBNorva, IsPickOnly)
{
    TCBNorva c;
    EXPECT_FALSE(c.isEditable());
}

// ---- drop-down width ----

int Allowance(const QWidget& w)
{
    const QStyle* s = w.style();
    return s->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, &w) +
           s->pixelMetric(QStyle::PM_ScrollBarSliderMin, nullptr, &w);
}

int Widest(const QFont& font, const QStringList& texts)
{
    const QFontMetrics fm(font);
    int w = 0;
    for (const QString& t : texts)
        w = std::max(w, fm.horizontalAdvance(t));
    return w;
}

QFont PlainFont(const QString& family, int pixelSize, bool bold)
{
    QFont f;
    f.setFamily(family);
    f.setPixelSize(pixelSize);
    f.setWeight(bold ? QFont::Bold : QFont::Normal);
    return f;
}

// Opens and closes the list; returns the minimum width it was given.
int OpenedMinimumWidth(TCBNorva& c)
{
    c.showPopup();
    const int w = c.view()->minimumWidth();
    c.hidePopup();
    return w;
}

// The widest in pixels is neither the first, the last nor the longest in characters.
const QStringList kEntries = L({"AM", "Cadastro Centralizado de Contribuinte",
                                "iiiiiiiiiiiiiiiiiiiiiiiiiiiiiiiiiiiiiiiiiiii", "SP"});

void Fill(TCBNorva& c, const QStringList& texts)
{
    for (const QString& t : texts)
        c.Add(t, QString());
}

struct FontCase
{
    const char* name;
    std::function<QFont()> controlFont;
    bool measuredBold;
};

std::ostream& operator<<(std::ostream& os, const FontCase& c)
{
    return os << c.name;
}

class DropDownFont : public testing::TestWithParam<FontCase>
{};

TEST_P(DropDownFont, MeasuresWidestEntryInPlainFontPlusAllowance)
{
    const FontCase& tc = GetParam();
    const QFont controlFont = tc.controlFont();
    TCBNorva c;
    c.setFont(controlFont);
    Fill(c, kEntries);

    const int pixels =
        controlFont.pixelSize() > 0 ? controlFont.pixelSize() : QFontInfo(controlFont).pixelSize();
    const QFont expectedFont = PlainFont(controlFont.family(), pixels, tc.measuredBold);
    ASSERT_GT(QFontMetrics(expectedFont).horizontalAdvance(kEntries[1]),
              QFontMetrics(expectedFont).horizontalAdvance(kEntries[2]));
    EXPECT_EQ(OpenedMinimumWidth(c), Widest(expectedFont, kEntries) + Allowance(c));
}

QFont Tahoma15()
{
    return PlainFont(S("Tahoma"), 15, false);
}

INSTANTIATE_TEST_SUITE_P(
    CBNorva, DropDownFont,
    testing::Values(FontCase{"Regular", Tahoma15, false},
                    FontCase{"Bold",
                             [] {
                                 QFont f = Tahoma15();
                                 f.setBold(true);
                                 return f;
                             },
                             true},
                    FontCase{"ItalicMeasuredUpright",
                             [] {
                                 QFont f = Tahoma15();
                                 f.setItalic(true);
                                 return f;
                             },
                             false},
                    FontCase{"BoldItalicUnderlinedStruckOut",
                             [] {
                                 QFont f = Tahoma15();
                                 f.setBold(true);
                                 f.setItalic(true);
                                 f.setUnderline(true);
                                 f.setStrikeOut(true);
                                 return f;
                             },
                             true},
                    FontCase{"LetterSpacingIgnored",
                             [] {
                                 QFont f = Tahoma15();
                                 f.setLetterSpacing(QFont::AbsoluteSpacing, 3);
                                 return f;
                             },
                             false},
                    FontCase{"OtherFamilyAndSize",
                             [] { return PlainFont(S("DejaVu Serif"), 20, false); }, false},
                    FontCase{"PointSizeOnly",
                             [] {
                                 QFont f(S("Tahoma"));
                                 f.setPointSize(13);
                                 return f;
                             },
                             false}),
    [](const testing::TestParamInfo<FontCase>& info) { return std::string(info.param.name); });

TEST(CBNorvaDropDown, BoldWidensItalicDoesNot)
{
    auto measure = [](bool bold, bool italic) {
        TCBNorva c;
        QFont f = Tahoma15();
        f.setBold(bold);
        f.setItalic(italic);
        c.setFont(f);
        Fill(c, kEntries);
        return OpenedMinimumWidth(c);
    };
    const int regular = measure(false, false);
    EXPECT_GT(measure(true, false), regular);
    EXPECT_EQ(measure(false, true), regular);
}

TEST(CBNorvaDropDown, EmptyListYieldsAllowance)
{
    TCBNorva c;
    EXPECT_EQ(OpenedMinimumWidth(c), Allowance(c));
}

TEST(CBNorvaDropDown, EntryAddedByHandlerIsMeasured)
{
    TCBNorva c;
    c.setFont(Tahoma15());
    c.Add(S("AM"), S("a"));
    const QString added = S("Secretaria da Fazenda do Estado de São Paulo");
    int calls = 0;
    QObject::connect(&c, &TCBNorva::dropDown, &c, [&] {
        ++calls;
        c.Add(added, S("s"));
    });

    EXPECT_EQ(OpenedMinimumWidth(c), Widest(Tahoma15(), {added}) + Allowance(c));
    EXPECT_EQ(calls, 1);
}

TEST(CBNorvaDropDown, WidthIsComputedOnEveryOpening)
{
    TCBNorva c;
    c.setFont(Tahoma15());
    Fill(c, kEntries);
    const int before = OpenedMinimumWidth(c);
    ASSERT_TRUE(c.Delete(1));
    const int after = OpenedMinimumWidth(c);
    EXPECT_LT(after, before);
    EXPECT_EQ(after, Widest(Tahoma15(), Snapshot(c).items) + Allowance(c));
}

// Scroll-bar metrics under the test's control, to see that exactly these two are added and
// that they are read on every opening.
class MetricsStyle : public QProxyStyle
{
public:
    int extent = 11;
    int sliderMin = 7;

    int pixelMetric(PixelMetric metric, const QStyleOption* option,
                    const QWidget* widget) const override
    {
        if (metric == PM_ScrollBarExtent)
            return extent;
        if (metric == PM_ScrollBarSliderMin)
            return sliderMin;
        return QProxyStyle::pixelMetric(metric, option, widget);
    }
};

TEST(CBNorvaDropDown, AllowanceIsTheScrollBarMetricsReadAfresh)
{
    MetricsStyle style;
    TCBNorva c;
    c.setStyle(&style);
    c.setFont(Tahoma15());
    Fill(c, kEntries);
    const int text = Widest(Tahoma15(), kEntries);

    EXPECT_EQ(OpenedMinimumWidth(c), text + 11 + 7);
    style.extent = 20;
    style.sliderMin = 3;
    EXPECT_EQ(OpenedMinimumWidth(c), text + 20 + 3);
}

TEST(CBNorvaDropDown, ListIsNeverNarrowerThanTheControl)
{
    TCBNorva c;
    c.setFont(Tahoma15());
    Fill(c, L({"AM", "BA", "ES", "SP"}));
    c.setGeometry(0, 0, 781, 26);
    c.show();

    c.showPopup();
    EXPECT_LT(c.view()->minimumWidth(), 781);
    // The open list is the popup window around the view (the view sits inside its frame).
    EXPECT_GE(c.view()->window()->width(), 781);
    c.hidePopup();
}

TEST(CBNorvaDropDown, ListOpensWideEnoughOnANarrowControl)
{
    TCBNorva c;
    c.setFont(Tahoma15());
    Fill(c, kEntries);
    c.setGeometry(0, 0, 120, 26);
    c.show();

    c.showPopup();
    const int w = Widest(Tahoma15(), kEntries) + Allowance(c);
    EXPECT_GT(w, 120);
    EXPECT_GE(c.view()->width(), w);
    c.hidePopup();
}

} // namespace
