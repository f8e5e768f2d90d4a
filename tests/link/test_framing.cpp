// Framing: received bytes in, frames out, as tables of byte strings.
#include "link/FrameAssembler.h"

#include <QByteArray>
#include <QList>
#include <QTest>

namespace {
struct Recorder : FrameHandler {
    QList<QByteArray> frames;
    void DispatchReply(const char* frame, size_t size) override {
        frames << QByteArray(frame, qsizetype(size));
    }
};

// Chunks are separated by '|' in the table.
QList<QByteArray> Feed(const QList<QByteArray>& chunks, bool asChunks) {
    FrameAssembler a;
    Recorder r;
    for (const QByteArray& c : chunks) {
        if (asChunks)
            a.FeedChunk(c.constData(), size_t(c.size()), r);
        else
            a.FeedBytes(c.constData(), size_t(c.size()), r);
    }
    return r.frames;
}
} // namespace

class TestFraming : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void frames_data() {
        QTest::addColumn<QList<QByteArray>>("chunks");
        QTest::addColumn<QList<QByteArray>>("expected");
        using L = QList<QByteArray>;
        QTest::newRow("two replies, LF dropped by the next '['")
            << L{"[OK]\r\n[POLL,1,1,0,1]\r\n"} << L{"[OK]\r", "[POLL,1,1,0,1]\r"};
        QTest::newRow("LF then a measurement line starts the frame")
            << L{"\r\n1 000003E800000064FFF6\r"} << L{"\r", "\n1 000003E800000064FFF6\r"};
        QTest::newRow("measurement line split over three reads")
            << L{"1 00000", "3E800000064F", "FF6\r"} << L{"1 000003E800000064FFF6\r"};
        QTest::newRow("'[' mid-frame discards what came before")
            << L{"garb[STATUS,    FFFF    ]\r"} << L{"[STATUS,    FFFF    ]\r"};
        QTest::newRow("'[' in a split frame") << L{"[P1,Acme", "[P2,PXR-8]\r"} << L{"[P2,PXR-8]\r"};
        QTest::newRow("NUL inside a chunk is skipped")
            << L{QByteArray("[O\0K]\r", 6)} << L{"[OK]\r"};
        QTest::newRow("chunk starting with NUL is discarded whole")
            << L{QByteArray("\0[OK]\r", 6), "[LOG]\r"} << L{"[LOG]\r"};
        QTest::newRow("no CR, no frame") << L{"[OK]"} << L{};
        QTest::newRow("record lines without '['")
            << L{"H1,80001234,2.10\r\nD1,:,0,0,0\r\n"} << L{"H1,80001234,2.10\r", "\nD1,:,0,0,0\r"};
        QTest::newRow("lone CRs are frames of their own") << L{"\r\r"} << L{"\r", "\r"};
    }
    void frames() {
        QFETCH(QList<QByteArray>, chunks);
        QFETCH(QList<QByteArray>, expected);
        QCOMPARE(Feed(chunks, true), expected);
    }

    // A frame of exactly 1024 bytes with its CR is kept; one byte more and
    // it is dropped together with its tail, and the next frame is intact.
    void overlongFrames() {
        const QByteArray fits = "[" + QByteArray(1022, 'x') + "\r";
        QCOMPARE(fits.size(), 1024);
        QCOMPARE(Feed({fits}, false), QList<QByteArray>{fits});

        const QByteArray tooLong = "[" + QByteArray(1023, 'x') + "\r";
        QCOMPARE(Feed({tooLong, "[OK]\r"}, false), QList<QByteArray>{"[OK]\r"});

        // Far past the buffer, without a CR; the tail must not pass for a line.
        const QByteArray flood = QByteArray(5000, '1') + "\r";
        QCOMPARE(Feed({flood, "\n[LOG]\r"}, false), QList<QByteArray>{"[LOG]\r"});

        // A '[' ends the discarding at once.
        QCOMPARE(Feed({QByteArray(3000, 'z') + "[OK]\r"}, false), QList<QByteArray>{"[OK]\r"});
    }
};

QTEST_APPLESS_MAIN(TestFraming)
#include "test_framing.moc"
