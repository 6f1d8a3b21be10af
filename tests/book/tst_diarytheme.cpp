#include "book/theme/DiaryTheme.h"
#include "support/GuiTestMain.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QRegularExpression>

#include <algorithm>

using namespace velmora;

class DiaryThemeTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void hexColours_data() {
        QTest::addColumn<QString>("hex");
        QTest::addColumn<QColor>("colour");
        const QColor paper = QColor::fromRgb(0xFB, 0xF6, 0xEC);
        QTest::newRow("plain") << "FBF6EC" << paper;
        QTest::newRow("number sign") << "#FBF6EC" << paper;
        QTest::newRow("spaces") << "  FBF6EC " << paper;
        QTest::newRow("newline") << "FBF6EC\n" << paper;
        QTest::newRow("letters beyond F") << "FBF6ECZZ" << QColor::fromRgb(0xFB, 0xF6, 0xEC, 0);
        QTest::newRow("0x prefix") << "0xFBF6EC" << QColor::fromRgb(0xFB, 0xF6, 0xEC, 0);
        QTest::newRow("three digits") << "F80" << QColor::fromRgb(255, 136, 0);
        QTest::newRow("alpha first") << "80FF0000" << QColor::fromRgb(255, 0, 0, 128);
        QTest::newRow("five digits") << "FBF6E" << QColor(Qt::black);
        QTest::newRow("empty") << "" << QColor(Qt::black);
        QTest::newRow("nothing scanned") << "ZZZZZZ" << QColor(Qt::black);
    }

    void hexColours() {
        QFETCH(QString, hex);
        QFETCH(QColor, colour);
        QCOMPARE(colorFromHex(hex).rgba(), colour.rgba());
    }

    void resolvedFontNames_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("resolved");
        QTest::newRow("supported") << "Cochin"
                                   << "Cochin";
        QTest::newRow("surrounding white space") << " \tPalatino\n"
                                                 << "Palatino";
        QTest::newRow("other letter case") << "palatino"
                                           << "Georgia";
        QTest::newRow("empty") << ""
                               << "Georgia";
        QTest::newRow("outside the list") << "Comic Sans"
                                          << "Georgia";
        QTest::newRow("space inside") << "Times  New Roman"
                                      << "Georgia";
    }

    void resolvedFontNames() {
        QFETCH(QString, name);
        QFETCH(QString, resolved);
        QCOMPARE(resolvedFontName(name), resolved);
    }

    // Layout must not depend on what else a machine has installed, so every writing font has
    // an installed stand-in, checked in the font database rather than through QFont.
    void everyFontHasAnInstalledStandIn() {
        QCOMPARE(diaryFontNames().size(), 14);
        for (const QString &name : diaryFontNames()) {
            const QString family = substituteFontFamily(name);
            QVERIFY2(QFontDatabase::hasFamily(family),
                     qPrintable(name + QStringLiteral(" → ") + family));
            const QFont font = resolveDiaryFont(name, 16);
            QCOMPARE(font.family(), family);
            // Font info names the foundry too when a family comes from more than one.
            QCOMPARE(QFontInfo(font).family().section(QStringLiteral(" ["), 0, 0), family);
            QCOMPARE(font.weight(), QFont::Normal);
            // Faces that differ only by optical size ("08 Regular", "12 Regular") leave the
            // choice to the order in which a machine happened to list its font files.
            QStringList faces;
            for (const QString &style : QFontDatabase::styles(family))
                faces.append(style.section(QRegularExpression(QStringLiteral("^\\d+ ")), -1));
            faces.sort();
            QVERIFY2(std::adjacent_find(faces.cbegin(), faces.cend()) == faces.cend(),
                     qPrintable(family + QStringLiteral(": ") + faces.join(QStringLiteral(", "))));
        }
    }

    void fontSizes_data() {
        QTest::addColumn<double>("size");
        QTest::addColumn<double>("points");
        QTest::newRow("zero") << 0.0 << 1.0;
        QTest::newRow("negative") << -5.0 << 1.0;
        QTest::newRow("not a number") << qQNaN() << 1.0;
        QTest::newRow("ordinary") << 17.5 << 17.5;
    }

    void fontSizes() {
        QFETCH(double, size);
        QFETCH(double, points);
        QCOMPARE(resolveDiaryFont(QStringLiteral("Garamond"), size).pointSizeF(), points);
        QCOMPARE(resolveDiaryFont(QStringLiteral("SF Pro Text"), size).pointSizeF(), points);
    }

    // Each formatter keeps the locale and zone of its making, as the whole run shares it.
    void sharedDateFormatters_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("text");
        QTest::newRow("year") << "year"
                              << "2026";
        QTest::newRow("long date") << "longDate"
                                   << "December 31, 2026";
        QTest::newRow("weekday") << "weekday"
                                 << "Thursday";
        QTest::newRow("short month") << "shortMonth"
                                     << "Dec";
        QTest::newRow("month and year") << "monthYear"
                                        << "December 2026";
        QTest::newRow("short date and time") << "shortDateTime"
                                             << "12/31/26, 10:30 PM";
    }

    // The formatters are made on first use with the locale and zone of that moment, and keep
    // them for the run.
    void sharedDateFormatters() {
        QFETCH(QString, name);
        QFETCH(QString, text);
        const test::ScopedTimeZone zone("America/New_York");
        const test::ScopedLocale locale(QStringLiteral("en_US"));
        const QHash<QString, const DiaryDateFormatter *> formatters{
            {QStringLiteral("year"), &yearFormatter()},
            {QStringLiteral("longDate"), &longDateFormatter()},
            {QStringLiteral("weekday"), &weekdayFormatter()},
            {QStringLiteral("shortMonth"), &shortMonthFormatter()},
            {QStringLiteral("monthYear"), &monthYearFormatter()},
            {QStringLiteral("shortDateTime"), &shortDateTimeFormatter()},
        };
        // 03:30 UTC on New Year's Day is still the evening before in New York.
        const QDateTime moment(QDate(2027, 1, 1), QTime(3, 30), QTimeZone::utc());
        // CLDR puts a narrow no-break space before AM/PM.
        QCOMPARE(formatters.value(name)->string(moment).replace(QChar(0x202f), u' '), text);
    }

    void namedColoursInBothSchemes() {
        const DiaryTheme light;
        const DiaryTheme dark{DiaryColorScheme::dark};
        QCOMPARE(light.leather(), colorFromHex(QStringLiteral("5E1520")));
        QCOMPARE(light.paper(), colorFromHex(QStringLiteral("FBF6EC")));
        QCOMPARE(light.ink(), diaryInkColor());
        QCOMPARE(&light.ink(), &diaryInkColor());
        // Dark paper stays lighter than dark ink, so text on the page stays readable.
        QVERIFY(dark.paper() != light.paper());
        QVERIFY(dark.paper().lightnessF() - dark.ink().lightnessF() > 0.6);
        QCOMPARE(withOpacity(colorFromHex(QStringLiteral("80FF0000")), 0.5).alpha(), 64);
        QCOMPARE(withOpacity(diaryGoldColor(), 2.0).alpha(), 255);
    }

    void unknownNamesFallBackToGeorgia() {
        QCOMPARE(resolveDiaryFont(QStringLiteral("No Such Family"), 16).family(),
                 resolveDiaryFont(QStringLiteral("Georgia"), 16).family());
    }
};

VELMORA_GUI_TEST_MAIN(DiaryThemeTest)
#include "tst_diarytheme.moc"
