// Axis arithmetic as tables: steps, label formats, pressure units, the
// negative-pressure origin, the live time window, the Y-axis commands and
// box placement.
#include "view/GraphLayout.h"
#include "view/GraphRenderer.h"
#include "view/ViewState.h"

#include <QTest>

class TestGraphLayout : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void flowSteps_data() {
        QTest::addColumn<double>("span");
        QTest::addColumn<int>("base");
        QTest::addColumn<qint64>("value");
        QTest::addColumn<QString>("label");
        QTest::newRow("12 ml/h: whole ml/h") << 1200.0 << 100 << qint64(300) << "3";
        QTest::newRow("9 ml/h: tenths") << 900.0 << 10 << qint64(10) << "0.1";
        QTest::newRow("exactly 1000") << 1000.0 << 10 << qint64(250) << "2.5";
        QTest::newRow("above 1500") << 1501.0 << 500 << qint64(1500) << "15";
        QTest::newRow("above 15000") << 15001.0 << 5000 << qint64(5000) << "50";
        QTest::newRow("above 150000") << 150001.0 << 50000 << qint64(50000) << "500";
        QTest::newRow("above 450000") << 450001.0 << 150000 << qint64(150000) << "1500";
    }
    void flowSteps() {
        QFETCH(double, span);
        QFETCH(int, base);
        QFETCH(qint64, value);
        QFETCH(QString, label);
        QCOMPARE(layout::FlowBaseStep(span), base);
        QCOMPARE(layout::FlowLabel(value, base), label);
    }

    // Steps grow by their base until two character heights apart.
    void growStep_data() {
        QTest::addColumn<qint64>("base");
        QTest::addColumn<double>("scale");
        QTest::addColumn<int>("charHeight");
        QTest::addColumn<qint64>("step");
        QTest::newRow("already apart") << qint64(100) << 1.0 << 15 << qint64(100);
        QTest::newRow("grows to 30 px") << qint64(10) << 1.0 << 15 << qint64(30);
        QTest::newRow("coarse scale") << qint64(500) << 60.0 << 16 << qint64(2000);
    }
    void growStep() {
        QFETCH(qint64, base);
        QFETCH(double, scale);
        QFETCH(int, charHeight);
        QFETCH(qint64, step);
        QCOMPARE(layout::GrowStep(base, scale, charHeight), step);
    }

    void axisScale_data() {
        QTest::addColumn<double>("range");
        QTest::addColumn<int>("height");
        QTest::addColumn<int>("headroom");
        QTest::addColumn<double>("scale");
        QTest::newRow("empty record: 1.0 plus a fifth") << 0.0 << 500 << 5 << 1.2;
        QTest::newRow("flow 20 % headroom") << 1000.0 << 100 << 5 << 12.0;
        QTest::newRow("volume 10 % headroom") << 1000.0 << 100 << 10 << 11.0;
        QTest::newRow("no height counts as 1") << 50.0 << 0 << 5 << 60.0;
    }
    void axisScale() {
        QFETCH(double, range);
        QFETCH(int, height);
        QFETCH(int, headroom);
        QFETCH(double, scale);
        QCOMPARE(layout::AxisScale(range, height, headroom), scale);
    }

    void pressureUnits_data() {
        QTest::addColumn<int>("unit");
        QTest::addColumn<double>("f");
        QTest::addColumn<int>("d");
        QTest::newRow("mmHg") << 0 << 1.0 << 1;
        QTest::newRow("psi") << 1 << 0.5171 << 100;
        QTest::newRow("kPa") << 2 << 0.7499 << 10;
    }
    void pressureUnits() {
        QFETCH(int, unit);
        QFETCH(double, f);
        QFETCH(int, d);
        const layout::UnitFactor u = layout::PressureFactor(unit);
        QVERIFY(qAbs(u.f - f) < 1e-12);
        QCOMPARE(u.d, d);
    }

    void pressureLabels_data() {
        QTest::addColumn<double>("value");
        QTest::addColumn<qint64>("step");
        QTest::addColumn<int>("d");
        QTest::addColumn<QString>("label");
        QTest::newRow("mmHg") << 150.0 << qint64(50) << 1 << "150";
        QTest::newRow("psi fine step: two decimals") << 5.0 << qint64(5) << 100 << "0.05";
        QTest::newRow("psi step 50: one decimal") << 150.0 << qint64(50) << 100 << "1.5";
        QTest::newRow("psi step 100: one decimal") << 200.0 << qint64(100) << 100 << "2.0";
        QTest::newRow("psi step 500: whole") << 500.0 << qint64(500) << 100 << "5";
        QTest::newRow("kPa step 5") << 15.0 << qint64(5) << 10 << "1.5";
        QTest::newRow("kPa step 50") << 150.0 << qint64(50) << 10 << "15";
        QTest::newRow("negative") << -20.0 << qint64(5) << 10 << "-2.0";
    }
    void pressureLabels() {
        QFETCH(double, value);
        QFETCH(qint64, step);
        QFETCH(int, d);
        QFETCH(QString, label);
        QCOMPARE(layout::PressureLabel(value, step, d), label);
    }

    // The first tick is the lowest step multiple not below the minimum.
    void negativeOrigin_data() {
        QTest::addColumn<int>("minimum");
        QTest::addColumn<int>("unit");
        QTest::addColumn<qint64>("step");
        QTest::addColumn<qint64>("first");
        QTest::newRow("none") << 0 << 0 << qint64(5) << qint64(0);
        QTest::newRow("-30 mmHg step 5") << -30 << 0 << qint64(5) << qint64(-30);
        QTest::newRow("-30 mmHg step 20") << -30 << 0 << qint64(20) << qint64(-20);
        QTest::newRow("-30 mmHg step 50") << -30 << 0 << qint64(50) << qint64(0);
        QTest::newRow("-30 mmHg in kPa x10, step 5") << -30 << 2 << qint64(5) << qint64(-40);
        QTest::newRow("-30 mmHg in psi x100, step 5") << -30 << 1 << qint64(5) << qint64(-55);
    }
    void negativeOrigin() {
        QFETCH(int, minimum);
        QFETCH(int, unit);
        QFETCH(qint64, step);
        QFETCH(qint64, first);
        QCOMPARE(layout::PressureFirstTick(minimum, layout::PressureFactor(unit).f, step), first);
    }

    void volumeSteps_data() {
        QTest::addColumn<qint64>("span");
        QTest::addColumn<int>("base");
        QTest::addColumn<qint64>("value");
        QTest::addColumn<QString>("label");
        QTest::newRow("small") << qint64(15000) << 1000 << qint64(5000) << "0.5";
        QTest::newRow("above 15000") << qint64(15001) << 10000 << qint64(20000) << "2";
        QTest::newRow("above 150000") << qint64(150001) << 100000 << qint64(300000) << "30";
        QTest::newRow("above 15e6") << qint64(15000001) << 1000000 << qint64(2000000) << "200";
        QTest::newRow("above 150e6") << qint64(150000001) << 50000000 << qint64(50000000) << "5000";
    }
    void volumeSteps() {
        QFETCH(qint64, span);
        QFETCH(int, base);
        QFETCH(qint64, value);
        QFETCH(QString, label);
        QCOMPARE(layout::VolumeBaseStep(span), base);
        QCOMPARE(layout::VolumeLabel(value, base), label);
    }

    void timeUnits_data() {
        QTest::addColumn<double>("span");
        QTest::addColumn<int>("ticksPerSecond");
        QTest::addColumn<uint>("unit");
        QTest::addColumn<QString>("title");
        QTest::newRow("seconds") << 59999.0 << 1000 << 1000u << "Seconds";
        QTest::newRow("minutes") << 60000.0 << 1000 << 60000u << "Minutes";
        QTest::newRow("hours") << 3600000.0 << 1000 << 3600000u << "Hours";
        QTest::newRow("older record, 30 min") << 30.0 * 60 * 256 << 256 << 15360u << "Minutes";
    }
    void timeUnits() {
        QFETCH(double, span);
        QFETCH(int, ticksPerSecond);
        QFETCH(uint, unit);
        QFETCH(QString, title);
        const layout::TimeUnit u = layout::TimeAxisUnit(span, ticksPerSecond);
        QCOMPARE(u.unit, unit);
        QCOMPARE(u.title, title);
    }

    // The live window doubles once per redraw up to 16 minutes, becomes an
    // hour between 32 and 60 minutes, then doubles past each window.
    void liveWindow_data() {
        QTest::addColumn<uint>("elapsedMs");
        QTest::addColumn<int>("start");
        QTest::addColumn<QList<int>>("sequence");
        QTest::newRow("start") << 30000u << 1 << QList<int>{1, 1};
        QTest::newRow("10 min") << 600000u << 1 << QList<int>{2, 4, 8, 16, 16};
        QTest::newRow("40 min") << 2400000u << 16 << QList<int>{60, 60};
        QTest::newRow("61 min") << 3660000u << 60 << QList<int>{120, 120};
        QTest::newRow("3 h") << 10800000u << 120 << QList<int>{240, 240};
        QTest::newRow("long jump catches up") << 600000u << 1 << QList<int>{2, 4};
    }
    void liveWindow() {
        QFETCH(uint, elapsedMs);
        QFETCH(int, start);
        QFETCH(QList<int>, sequence);
        int w = start;
        for (int expected : sequence) {
            w = layout::NextLiveWindow(w, elapsedMs);
            QCOMPARE(w, expected);
        }
    }

    // Shrink grows each range by a tenth up to its cap; at a cap it goes
    // back to automatic and stays put until Expand or Reset.
    void shrinkCaps() {
        ViewState st;
        st.y.pressureRange = 3000;
        QVERIFY(!st.Shrink(1000, 1000, 3000));
        QVERIFY(st.y.limitReached);
        QVERIFY(!st.y.manual);
        QCOMPARE(st.y.pressureRange, 3000.0);
        QVERIFY(!st.Shrink(1000, 1000, 3000));
        QCOMPARE(st.y.pressureRange, 3000.0);
        QVERIFY(st.Expand(1000, 1000, 3000));
        QVERIFY(!st.y.limitReached);
        QCOMPARE(st.y.pressureRange, 2700.0);
        QVERIFY(st.ResetScale());
        QVERIFY(!st.y.manual);
        QCOMPARE(st.y.pressureRange, 0.0);
    }
    void shrinkAndExpand() {
        ViewState st;
        st.y.flowRange = 1000;
        st.y.volumeRange = 50000;
        st.y.pressureRange = 100;
        QVERIFY(st.Shrink(1000, 50000, 100));
        QVERIFY(st.y.manual);
        QCOMPARE(st.y.flowRange, 1100.0);
        QCOMPARE(st.y.volumeRange, 55000.0);
        QCOMPARE(st.y.pressureRange, 110.0);
        // Flow at its cap: that range goes back and the flag stops further
        // presses; the others have grown this time.
        st.y.flowRange = 10000000;
        QVERIFY(!st.Shrink(1000, 50000, 100));
        QCOMPARE(st.y.flowRange, 1000.0);
        QVERIFY(st.y.limitReached);
        // Expand never takes a range below zero.
        ViewState e;
        e.y.flowRange = 50;
        QVERIFY(e.Expand(1000, 0, 0));
        QCOMPARE(e.y.flowRange, 50.0);
    }

    void lineWidthText_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("width");
        QTest::newRow("3") << "3" << 3;
        QTest::newRow("empty") << "" << 0;
        QTest::newRow("words") << "wide" << 0;
        QTest::newRow("digits then text") << " 5px" << 5;
    }
    void lineWidthText() {
        QFETCH(QString, text);
        QFETCH(int, width);
        QCOMPARE(GraphRenderer::LineWidthFromText(text), width);
    }

    // Putting a picked-up box down: clamped to the limits.
    void boxPlacement_data() {
        QTest::addColumn<QPoint>("press");
        QTest::addColumn<QPoint>("topLeft");
        QTest::newRow("middle") << QPoint(300, 300) << QPoint(250, 280);
        QTest::newRow("near right edge") << QPoint(790, 300) << QPoint(700, 280);
        QTest::newRow("left of the left limit") << QPoint(20, 300) << QPoint(60, 280);
        QTest::newRow("above the top limit") << QPoint(300, 10) << QPoint(250, 31);
        QTest::newRow("near the bottom") << QPoint(300, 590) << QPoint(250, 560);
    }
    void boxPlacement() {
        QFETCH(QPoint, press);
        QFETCH(QPoint, topLeft);
        ViewState st;
        st.leftMargin = 60;
        st.topLimit = 30;
        st.rightLimit = 800;
        st.bottomLimit = 600;
        st.keyBox = FloatingBox{500, 100, 100, 40, true, false, true};
        QVERIFY(st.MousePress(press.x(), press.y()));
        QCOMPARE(QPoint(st.keyBox.x, st.keyBox.y), topLeft);
        QVERIFY(!st.keyBox.pickedUp);
    }

    // Before the key box was placed (or after a resize) there are no move
    // limits yet: the plot of the last redraw bounds the boxes, so none can
    // be put down outside the window.
    void boxPlacementWithoutKeyLimits_data() {
        QTest::addColumn<int>("staleRight");
        QTest::addColumn<QPoint>("press");
        QTest::addColumn<QPoint>("topLeft");
        QTest::newRow("never placed, middle") << 0 << QPoint(300, 300) << QPoint(250, 280);
        QTest::newRow("never placed, near right edge") << 0 << QPoint(740, 300) << QPoint(660, 280);
        QTest::newRow("never placed, near the bottom") << 0 << QPoint(300, 550) << QPoint(250, 520);
        // Limits of a larger window before the resize.
        QTest::newRow("after resize, near right edge")
            << 1500 << QPoint(740, 550) << QPoint(660, 520);
    }
    void boxPlacementWithoutKeyLimits() {
        QFETCH(int, staleRight);
        QFETCH(QPoint, press);
        QFETCH(QPoint, topLeft);
        ViewState st;
        st.leftMargin = st.left = 60;
        st.width = 700;
        st.bottom = st.savedBottom = 560;
        st.topLimit = 30;
        if (staleRight) {
            st.rightLimit = staleRight;
            st.bottomLimit = 1000;
            st.FlagFirstPlacement();
        }
        st.detailsBox = FloatingBox{500, 100, 100, 40, true, false, true};
        QVERIFY(st.MousePress(press.x(), press.y()));
        QCOMPARE(QPoint(st.detailsBox.x, st.detailsBox.y), topLeft);
        QVERIFY(st.detailsBox.x + st.detailsBox.width <= st.left + st.width);
        QVERIFY(st.detailsBox.y + st.detailsBox.height <= st.savedBottom);
    }

    // A held box that the last redraw did not draw is not put down.
    void hiddenHeldBoxStays() {
        ViewState st;
        st.leftMargin = st.left = 60;
        st.width = 700;
        st.savedBottom = 560;
        st.topLimit = 30;
        st.keyBox = FloatingBox{500, 100, 100, 40, true, false, false};
        QVERIFY(!st.MousePress(300, 300));
        QCOMPARE(QPoint(st.keyBox.x, st.keyBox.y), QPoint(500, 100));
        QVERIFY(st.keyBox.pickedUp);
    }
};

QTEST_GUILESS_MAIN(TestGraphLayout)
#include "test_graph_layout.moc"
