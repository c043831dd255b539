#include "ScriptedMessageBoxes.h"
#include "app/ErrorReport.h"

#include <QTest>

class TestErrorReport : public QObject {
    Q_OBJECT

private slots:
    void reportText_data()
    {
        QTest::addColumn<bool>("fileError");
        QTest::addColumn<int>("number");
        QTest::addColumn<QString>("description");
        QTest::addColumn<QString>("expected");

        const QString tail = QStringLiteral("\r\nThis request has been cancelled - retry");
        QTest::newRow("file, positive") << true << 53 << "File not found"
                                        << "FILE 53 - The following error has occurred\r\nFile not found" + tail;
        QTest::newRow("error, positive") << false << 53 << "File not found"
                                         << "ERROR:  53 - The following error has occurred\r\nFile not found" + tail;
        QTest::newRow("file, negative") << true << -2147467259 << "Unspecified error"
                                        << "FILE-2147467259 - The following error has occurred\r\nUnspecified error" +
                                               tail;
        QTest::newRow("error, negative") << false << -5 << "x"
                                         << "ERROR: -5 - The following error has occurred\r\nx" + tail;
        QTest::newRow("empty description") << false << 7 << ""
                                           << "ERROR:  7 - The following error has occurred\r\n" + tail;
    }

    void reportText()
    {
        QFETCH(bool, fileError);
        QFETCH(int, number);
        QFETCH(QString, description);
        QFETCH(QString, expected);

        ScriptedMessageBoxes boxes;
        const ErrorInfo error{number, description, QStringLiteral("Some Source")};
        const bool shown = fileError ? ReportFileError(boxes, error) : ReportError(boxes, error);
        QVERIFY(shown);
        QCOMPARE(boxes.boxes.size(), 1);
        QCOMPARE(boxes.boxes[0].text, expected);
        QCOMPARE(boxes.boxes[0].text.split(QStringLiteral("\r\n")).size(), 3);
        QCOMPARE(boxes.boxes[0].title, QStringLiteral("Some Source"));
        QCOMPARE(boxes.boxes[0].icon, MessageBoxes::Icon::Critical);
        QCOMPARE(boxes.boxes[0].buttons, MessageBoxes::Buttons::Ok);
    }

    void noPendingErrorShowsNothing()
    {
        ScriptedMessageBoxes boxes;
        QVERIFY(!ReportError(boxes, ErrorInfo{0, QStringLiteral("ignored"), QStringLiteral("Mirel")}));
        QVERIFY(!ReportFileError(boxes, ErrorInfo{}));
        QVERIFY(boxes.boxes.isEmpty());
    }

    void emptySourceGivesEmptyTitle()
    {
        ScriptedMessageBoxes boxes;
        QVERIFY(ReportFileError(boxes, ErrorInfo{1, QStringLiteral("d"), QString()}));
        QCOMPARE(boxes.boxes[0].title, QString());
    }

    void trappedErrorKeepsItsValues()
    {
        const AppError error(ErrorCode::FileNotFound, QStringLiteral("gone"), QStringLiteral("SQLCipher"));
        QCOMPARE(TrappedError(error),
                 (ErrorInfo{ErrorCode::FileNotFound, QStringLiteral("gone"), QStringLiteral("SQLCipher")}));
        // Any other exception still becomes a pending error from the program itself.
        const ErrorInfo other = TrappedError(std::runtime_error("boom"));
        QVERIFY(other.pending());
        QCOMPARE(other.description, QStringLiteral("boom"));
        QCOMPARE(other.source, QStringLiteral("Mirel"));
    }
};

QTEST_APPLESS_MAIN(TestErrorReport)
#include "tst_errorreport.moc"
