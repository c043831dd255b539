#include "ScriptedMessageBoxes.h"
#include "core/ErrorReport.h"

#include <QTest>

class TestErrorReport : public QObject {
    Q_OBJECT

private slots:
    // The box of a pending error: its first line's start, the description, the closing line; the
    // error's source titles it. No box for no error.
    void reportText_data()
    {
        QTest::addColumn<bool>("fileError");
        QTest::addColumn<QString>("description"); // also the source
        QTest::addColumn<int>("number");
        QTest::addColumn<QString>("start"); // empty: no box
        QTest::newRow("file, positive") << true << "File not found" << 53 << "FILE 53";
        QTest::newRow("error, positive") << false << "File not found" << 53 << "ERROR:  53";
        QTest::newRow("file, negative") << true << "x" << -2147467259 << "FILE-2147467259";
        QTest::newRow("error, negative, no description") << false << "" << -5 << "ERROR: -5";
        QTest::newRow("no pending error") << false << "ignored" << 0 << "";
        QTest::newRow("no pending file error") << true << "" << 0 << "";
    }

    void reportText()
    {
        QFETCH(bool, fileError);
        QFETCH(QString, description);
        QFETCH(int, number);
        QFETCH(QString, start);
        ScriptedMessageBoxes boxes;
        const ErrorInfo error{number, description, description};
        QCOMPARE(fileError ? ReportFileError(boxes, error) : ReportError(boxes, error), !start.isEmpty());
        if (start.isEmpty()) {
            QVERIFY(boxes.boxes.isEmpty());
            return;
        }
        QCOMPARE(boxes.texts(), QStringList{start + " - The following error has occurred\r\n" + description +
                                            "\r\nThis request has been cancelled - retry"});
        QCOMPARE(boxes.boxes[0].title, description);
        QCOMPARE(boxes.boxes[0].icon, MessageBoxes::Icon::Critical);
        QCOMPARE(boxes.boxes[0].buttons, MessageBoxes::Buttons::Ok);
    }
};

QTEST_APPLESS_MAIN(TestErrorReport)
#include "tst_errorreport.moc"
