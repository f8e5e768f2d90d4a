#pragma once

// A window that handles commands of the shared menus and toolbars (a channel
// window's view). The main frame routes a command to the active child first.
class CommandTarget {
public:
    virtual ~CommandTarget() = default;
    // True when the command was handled.
    virtual bool OnCommand(int id) = 0;
    // Fills enabled/checked and returns true when the command is this
    // target's.
    virtual bool OnUpdateCommand(int id, bool& enabled, bool& checked) = 0;
};
