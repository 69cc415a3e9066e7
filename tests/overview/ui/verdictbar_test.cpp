#include "overview/ui/verdictbar.h"
#include "overview/ui/overviewtexts.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QGridLayout>
#include <QLabel>
#include <QStyle>
#include <QStyleFactory>
#include <QTest>
#include <cmath>
#include <map>
#include <set>

#include "overview/ui/tristateicon.h"

namespace varko {
namespace {

using overview::Tri;
using overview::Verdict;
using overview::VerdictLine;

// The bar's rows in order: their icon, label and text labels as a user meets them.
struct ShownRow {
    QLabel* icon;
    QLabel* label;
    QLabel* text;
};

std::vector<ShownRow> shownRows(const VerdictBar& bar, std::size_t count) {
    const auto* grid = bar.findChild<QGridLayout*>();
    std::vector<ShownRow> rows;
    // Two findings side by side on each line of the bar, under the headline and what the
    // app may use.
    for (int i = 0; i < int(count); ++i) {
        const auto cell = [&](int column) {
            return qobject_cast<QLabel*>(
                grid->itemAtPosition(2 + i / 2, i % 2 * 3 + column)->widget());
        };
        rows.push_back({cell(0), cell(1), cell(2)});
    }
    return rows;
}

std::vector<VerdictLine> sample() {
    return {{Tri::yes, "Signed by", "Developer ID Application: Example Ltd (A1B2C3D4E5)", {}},
            {Tri::no, "Gatekeeper", "Rejected: a sealed resource is missing or invalid", {}},
            {Tri::unknown, "Notarization", "Can't be checked on this system", {}}};
}

TEST(VerdictBar, NamesFromTheBundleShowAsCharactersNeverAsMarkup) {
    VerdictBar bar;
    bar.setLines({{Tri::yes, "Signed by", "<b>Evil</b>\nCorp <img src=x>", {}}},
                 Verdict::State::accepted, true);
    const ShownRow row = shownRows(bar, 1)[0];
    EXPECT_EQ(row.text->textFormat(), Qt::PlainText);
    // The line feed shows as its picture, so it cannot fake a line of the verdict.
    EXPECT_EQ(row.text->text(), QString::fromUtf8("<b>Evil</b>\u240ACorp <img src=x>"));
    EXPECT_EQ(row.label->text(), "Signed by");
    EXPECT_EQ(row.text->accessibleName(), "Signed by: " + row.text->text());
    EXPECT_EQ(row.text->accessibleDescription(), "Yes");
    EXPECT_EQ(bar.text(), QString::fromUtf8("Accepted\nSigned by: <b>Evil</b>\u240ACorp "
                                            "<img src=x> (Yes)\n"));
}

TEST(VerdictBar, PlainWordsKeepTheExactReasonAPointersRestAwayAndWhatTheAppMayUseComesFirst) {
    VerdictBar bar;
    bar.setLines({{Tri::no, "Gatekeeper", "Rejected because it is not signed",
                   "Rejected: <b>no</b> usable signature"}},
                 Verdict::State::rejected, true);
    const ShownRow row = shownRows(bar, 1)[0];
    EXPECT_EQ(row.text->text(), "Rejected because it is not signed");
    // Plain, so that the tool's words can't become markup in the tooltip.
    EXPECT_TRUE(row.text->toolTip().contains("Rejected: &lt;b&gt;no&lt;/b&gt; usable signature"))
        << row.text->toolTip().toStdString();
    EXPECT_EQ(row.text->accessibleDescription(), "No. Rejected: <b>no</b> usable signature");
    auto* mayUse = bar.findChild<QLabel*>("verdictMayUse");
    EXPECT_TRUE(mayUse->isHidden());
    bar.setMayUse("Camera (asks, entitled)");
    EXPECT_FALSE(mayUse->isHidden());
    EXPECT_EQ(bar.text(),
              "Rejected\nMay use: Camera (asks, entitled)\nGatekeeper: Rejected because it is not "
              "signed (No) [Rejected: <b>no</b> usable signature]\n");
}

TEST(VerdictBar, WhatAnAppMayUseIsSaidInWordsAndStaysALine) {
    overview::Overview o;
    EXPECT_EQ(mayUseText(o), "no privacy service is declared");
    overview::ServiceUse camera{"kTCCServiceCamera",
                                "Camera",
                                true,
                                {"NSCameraUsageDescription"},
                                {"com.apple.security.device.camera"},
                                {},
                                {"Contents/A", "B"},
                                {}};
    overview::ServiceUse odd{
        "kTCCService\n" + std::string(500, 'x'), "", false, {}, {}, {"k"}, {}, {}};
    o.services = {camera, odd};
    const QString two = mayUseText(o);
    EXPECT_TRUE(
        two.startsWith("Camera (asks, entitled, in 2 components), unknown service "
                       "kTCCService\u240Axxx"))
        << two.toStdString();
    EXPECT_TRUE(two.endsWith(QString::fromUtf8("x\u2026 (allowed without asking)")));
    EXPECT_LT(two.size(), 200);
    // A bundle naming hundreds is counted past the first few, and a cut walk is owned up to.
    o.services.assign(100, camera);
    o.componentsCut = true;
    const QString many = mayUseText(o);
    EXPECT_EQ(many.count("Camera"), 30);
    EXPECT_TRUE(many.endsWith(", and 70 more; the list may be incomplete (see Privacy)"));
}

TEST(VerdictBar, LongTextsWrapInsteadOfWideningTheWindow) {
    VerdictBar bar;
    const std::string words(60, 'x');
    std::string text;
    for (int i = 0; i < 40; ++i) text += words + " ";
    bar.setLines({{Tri::no, "Gatekeeper", text, {}}, {Tri::no, "Path", std::string(3000, 'y'), {}}},
                 Verdict::State::rejected, true);
    EXPECT_LT(bar.minimumSizeHint().width(), 600);
    bar.resize(500, bar.heightForWidth(500) > 0 ? bar.heightForWidth(500) : 400);
    bar.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&bar));
    const QLabel* wrapped = shownRows(bar, 2)[0].text;
    EXPECT_LE(wrapped->geometry().right(), bar.width());
    EXPECT_GT(wrapped->height(), wrapped->fontMetrics().height() * 10);
}

TEST(VerdictBar, TextIsSelectedWithKeyboardOrMouseAndCopied) {
    VerdictBar bar;
    bar.setLines(sample(), Verdict::State::rejected, false);
    bar.resize(1200, 240);
    bar.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&bar));
    QLabel* text = shownRows(bar, 3)[1].text;

    text->setFocus();
    QTest::keyClick(text, Qt::Key_Home);
    QTest::keyClick(text, Qt::Key_End, Qt::ShiftModifier);
    QTest::keySequence(text, QKeySequence::Copy);
    EXPECT_EQ(QApplication::clipboard()->text(),
              "Rejected: a sealed resource is missing or invalid");

    QApplication::clipboard()->clear();
    const int y = text->height() / 2;
    const int end = text->fontMetrics().horizontalAdvance("Rejected") + 2;
    // A click first, since pressing inside a selection would start dragging it.
    QTest::mouseClick(text, Qt::LeftButton, {}, QPoint(text->width() - 2, y));
    EXPECT_FALSE(text->hasSelectedText());
    QTest::mousePress(text, Qt::LeftButton, {}, QPoint(1, y));
    QTest::mouseMove(text, QPoint(end / 2, y));
    QTest::mouseMove(text, QPoint(end, y));
    QTest::mouseRelease(text, Qt::LeftButton, {}, QPoint(end, y));
    EXPECT_TRUE(text->selectedText().startsWith("Rejected")) << text->selectedText().toStdString();
    QTest::keySequence(text, QKeySequence::Copy);
    EXPECT_EQ(QApplication::clipboard()->text(), text->selectedText());
}

TEST(VerdictBar, EachStateHasItsOwnIconColourAndWords) {
    VerdictBar bar;
    bar.setLines(sample(), Verdict::State::unknown, true);
    const auto rows = shownRows(bar, 3);
    QStringList words;
    std::vector<QImage> icons;
    for (const ShownRow& row : rows) {
        words << row.icon->accessibleName();
        EXPECT_EQ(row.icon->toolTip(), row.icon->accessibleName());
        EXPECT_EQ(row.text->accessibleDescription(), row.icon->accessibleName());
        icons.push_back(row.icon->pixmap().toImage());
        EXPECT_FALSE(icons.back().isNull());
    }
    EXPECT_EQ(words, (QStringList{"Yes", "No", "Can't tell"}));
    EXPECT_NE(icons[0], icons[1]);
    EXPECT_NE(icons[1], icons[2]);
    EXPECT_NE(icons[0], icons[2]);
    // The colour as painted, not as set: the label's text role depends on its background.
    const auto painted = [](QLabel* label) {
        const QImage image = label->grab().toImage();
        std::map<QRgb, int> count;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) ++count[image.pixel(x, y)];
        std::erase_if(count, [&](const auto& entry) { return entry.first == image.pixel(0, 0); });
        return std::max_element(count.begin(), count.end(),
                                [](auto& a, auto& b) { return a.second < b.second; })
            ->first;
    };
    std::set<QRgb> colours;
    for (const ShownRow& row : rows) colours.insert(painted(row.label));
    EXPECT_EQ(colours.size(), 3u);
    EXPECT_TRUE(colours.contains(triColor(Tri::no, bar.palette()).rgb()));
    const auto* headline = bar.findChild<QLabel*>("verdictHeadline");
    ASSERT_NE(headline, nullptr);
    EXPECT_EQ(headline->text(), "Can't tell");
    EXPECT_EQ(headline->textFormat(), Qt::PlainText);
}

// WCAG's contrast ratio: what "readable" means for coloured text.
double contrast(const QColor& a, const QColor& b) {
    const auto luminance = [](const QColor& c) {
        const auto channel = [](double v) {
            return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) +
               0.0722 * channel(c.blueF());
    };
    const double x = luminance(a), y = luminance(b);
    return (std::max(x, y) + 0.05) / (std::min(x, y) + 0.05);
}

TEST(VerdictBar, StateColoursStayReadableOnLightAndDarkPalettes) {
    QPalette light = QStyleFactory::create("Fusion")->standardPalette();
    // Fusion's usual dark colours and the near-black of macOS's dark appearance.
    QPalette dark = light;
    dark.setColor(QPalette::Window, QColor(0x35, 0x35, 0x35));
    dark.setColor(QPalette::Base, QColor(0x1e, 0x1e, 0x1e));
    dark.setColor(QPalette::AlternateBase, QColor(0x42, 0x42, 0x42));
    for (const QPalette& palette : {light, dark})
        for (const Tri state : {Tri::yes, Tri::no, Tri::unknown})
            for (const auto role : {QPalette::Window, QPalette::Base, QPalette::AlternateBase})
                EXPECT_GE(contrast(triColor(state, palette), palette.color(role)), 4.5)
                    << int(state) << " on " << palette.color(role).name().toStdString();
}

TEST(VerdictBar, FillsInPlaceAndSaysWhenChecksAreStillRunning) {
    VerdictBar bar;
    bar.setLines(sample(), Verdict::State::unknown, false);
    bar.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&bar));
    EXPECT_TRUE(bar.isChecking());
    EXPECT_TRUE(bar.findChild<QLabel*>("verdictChecking")->isVisible());
    QLabel* first = shownRows(bar, 3)[0].text;
    first->setSelection(0, 9);

    auto lines = sample();
    lines.pop_back();
    lines[1] = {Tri::yes, "Gatekeeper", "Accepted", {}};
    bar.setLines(lines, Verdict::State::accepted, true);
    EXPECT_FALSE(bar.isChecking());
    EXPECT_FALSE(bar.findChild<QLabel*>("verdictChecking")->isVisible());
    EXPECT_EQ(first, shownRows(bar, 2)[0].text);
    EXPECT_EQ(first->selectedText(), "Developer");
    EXPECT_EQ(bar.text(),
              "Accepted\nSigned by: Developer ID Application: Example Ltd "
              "(A1B2C3D4E5) (Yes)\nGatekeeper: Accepted (Yes)\n");
}

}  // namespace
}  // namespace varko
