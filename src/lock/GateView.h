#pragma once

namespace halcyra {

// What the gate needs of the widget laid over the web view.
class GateView {
public:
    virtual ~GateView() = default;
    // Shown: the widget takes every pointer and key event meant for the covered content.
    virtual void setShown(bool) = 0;
    // Moves the keyboard focus onto the gate, remembering where it was.
    virtual void claimFocus() = 0;
    // Returns the focus that `claimFocus` took, if that widget is still in the window.
    virtual void giveBackFocus() = 0;
    virtual bool isApplicationActive() const = 0;
    // Brings the gate's window to the front without asking for anything.
    virtual void raiseWindow() = 0;
};

}
