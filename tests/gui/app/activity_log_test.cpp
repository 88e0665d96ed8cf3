// The activity log keeps every line, in order and byte for byte, however many blocks it spans; the
// view follows new lines while it stands at the end and stays where the user scrolled otherwise.

#include "gui/app/activity_log.h"
#include "gui/app/log_store.h"
#include "gui/app/log_view.h"

#include <QScrollBar>
#include <QTest>

using namespace paritas::gui;

class ActivityLogTest : public QObject {
    Q_OBJECT

private slots:
    void everyLineComesBackAsItWasAppended_data() {
        QTest::addColumn<int>("lines");
        QTest::newRow("none") << 0;
        QTest::newRow("one") << 1;
        QTest::newRow("within the open block") << 500;
        QTest::newRow("many sealed blocks") << 60000;
    }
    void everyLineComesBackAsItWasAppended() {
        QFETCH(int, lines);
        LogStore store;
        std::vector<std::string> written;
        std::size_t plainBytes = 0;
        for (int i = 0; i < lines; ++i) {
            // Accented, CJK and empty lines, and a length that varies across block edges.
            std::string line =
                i % 7 == 0 ? std::string() : "Scanning folder /tmp/Ä/日本/" + std::to_string(i);
            line.append(std::size_t(i % 13), 'x');
            written.push_back(line);
            plainBytes += line.size() + 1;
            store.append(line);
        }
        QCOMPARE(store.size(), std::size_t(lines));
        std::vector<std::string> visited;
        store.forEach([&](std::string_view line) { visited.emplace_back(line); });
        QVERIFY(visited == written);
        // Read out of order, as a view scrolling back and forth does.
        for (int i = lines - 1; i >= 0; i -= 997)
            QCOMPARE(store.line(std::size_t(i)), written[std::size_t(i)]);
        for (int i = 0; i < lines; i += 1009)
            QCOMPARE(store.line(std::size_t(i)), written[std::size_t(i)]);
        // Sealed blocks are kept packed: a long log costs well under its plain size.
        if (lines >= 60000)
            QVERIFY2(store.memoryUsed() < plainBytes / 2,
                     qPrintable(QStringLiteral("%1 of %2 bytes").arg(store.memoryUsed()).arg(plainBytes)));
        store.clear();
        QCOMPARE(store.size(), std::size_t(0));
    }

    void aTextWithLineBreaksBecomesOneLinePerPart() {
        ActivityLog log;
        log.append(QStringLiteral("first\nsecond\r\nthird"));
        log.append(std::string_view("fourth"));
        QCOMPARE(log.lines(), QStringList({"first", "second", "third", "fourth"}));
        QCOMPARE(log.lineBytes().back(), std::string("fourth"));
    }

    void theViewFollowsNewLinesOnlyFromTheEnd() {
        ActivityLog log;
        LogView view(log.store());
        view.resize(400, 120);
        log.setView(&view);
        for (int i = 0; i < 1000; ++i)
            log.append(QStringLiteral("line %1").arg(i));
        log.flush();
        QCOMPARE(view.firstVisibleLine() + std::size_t(view.visibleLineCount()), std::size_t(1000));
        view.verticalScrollBar()->setValue(10);
        log.append(QStringLiteral("one more"));
        log.flush();
        QCOMPARE(view.firstVisibleLine(), std::size_t(10));
        view.selectAll();
        QVERIFY(view.selectedText().endsWith(QStringLiteral("line 999\none more")));
    }
};

QTEST_MAIN(ActivityLogTest)
#include "activity_log_test.moc"
