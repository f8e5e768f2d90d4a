#pragma once

#include <QString>

// The battery notice of the notification area: which icon, which title and
// which message the battery states of the four analyzer slots give.
class BatteryNotice {
public:
    enum class Icon { Application, Low, Empty1, Empty2, Empty3 };

    struct Notice {
        char result = 'N'; // 'N' nothing connected, 'S', 'L' or 'H'
        QString title;
        QString message; // the balloon text, empty unless asked for
        Icon icon = Icon::Application;
    };

    // states: battery state of slots 1..4 ('N' for an empty slot).
    static QString BuildBatteryMessage(const char states[4]);

    // One refresh; advances the battery-empty icon cycle.
    Notice Refresh(const char states[4], int connectedCount, bool withBalloon);

private:
    int m_emptyPhase = 1; // the second empty icon counts as shown last
};
