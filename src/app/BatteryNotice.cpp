#include "BatteryNotice.h"

namespace {

// " 1", " 1, 2" ... with the last ", " turned into " and ".
QString SlotList(const char states[4], char state) {
    QString text;
    int count = 0;
    for (int d = 0; d < 4; ++d) {
        if (states[d] != state) continue;
        text += count == 0 ? QStringLiteral(" ") : QStringLiteral(", ");
        text += QString::number(d + 1);
        ++count;
    }
    if (count > 1) {
        const qsizetype at = text.lastIndexOf(QStringLiteral(", "));
        text.replace(at, 2, QStringLiteral(" and "));
    }
    return text;
}

bool Any(const char states[4], char state) {
    for (int d = 0; d < 4; ++d)
        if (states[d] == state) return true;
    return false;
}

} // namespace

QString BatteryNotice::BuildBatteryMessage(const char states[4]) {
    if (Any(states, 'S')) {
        QString text = QStringLiteral("Battery empty in Device:") + SlotList(states, 'S');
        if (Any(states, 'L'))
            text += QStringLiteral("\nBattery low in Device:") + SlotList(states, 'L');
        return text;
    }
    if (Any(states, 'L')) return QStringLiteral("Battery low in Device:") + SlotList(states, 'L');
    return {};
}

BatteryNotice::Notice BatteryNotice::Refresh(const char states[4], int connectedCount,
                                             bool withBalloon) {
    Notice n;
    if (connectedCount <= 0) return n;
    const QString message = BuildBatteryMessage(states);
    if (Any(states, 'S')) {
        // Shown in the order first, third, second, first ...
        m_emptyPhase = (m_emptyPhase + 2) % 3;
        n.result = 'S';
        n.title = QStringLiteral("Battery Empty");
        n.icon = Icon(int(Icon::Empty1) + m_emptyPhase);
    } else if (Any(states, 'L')) {
        n.result = 'L';
        n.title = QStringLiteral("Battery Low");
        n.icon = Icon::Low;
    } else {
        n.result = 'H';
    }
    if (withBalloon) n.message = message.left(511);
    n.title = n.title.left(127);
    return n;
}
