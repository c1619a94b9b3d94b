"""Prints, as JSON, what a screen reader finds in one of Halcyra's windows over AT-SPI: every
control with its role, name and actions, and the controls it could not use (no name, or a
button without an action). Run in a process of its own for each look: pyatspi keeps the tree of
its first look. The application is Halcyra or one of its test programs (named halcyra-...).

    accessibility_tree.py WINDOW-TITLE"""

import json
import re
import sys

import pyatspi

# The roles a user acts on; each needs a name a screen reader can say.
CONTROL_ROLES = {"push button", "toggle button", "check box", "radio button", "menu item", "check menu item",
                 "radio menu item", "text", "password text", "entry", "slider", "spin button", "combo box", "link",
                 "switch", "list item", "page tab"}
# The roles that do something when activated: each needs an action.
BUTTON_ROLES = {"push button", "toggle button", "check box", "radio button", "switch", "link", "menu item"}


# GTK says a widget's class name where it has no name to say.
CLASS_NAME = re.compile(r"^(Gtk|Adw|WebKit)[A-Z]\w*$")
# A name said twice over ("Tasks Tasks:"), as when a label and a labelling widget both name it.
SAID_TWICE = re.compile(r"^(.+) \1:?$")


def actionsOf(node):
    try:
        action = node.queryAction()
    except NotImplementedError:
        return []
    return [action.getName(index) for index in range(action.nActions)]


def controlsUnder(node, controls):
    role = node.getRoleName()
    # A page's own content is the page's business, not the application's.
    if role == "document web":
        return controls
    # What is not on screen (another page of a stack) is not read out.
    if not node.getState().contains(pyatspi.STATE_VISIBLE):
        return controls
    # A picture or plain widget a user can focus and act on (a framing tile) is a control too.
    isFocusableImage = role in ("image", "filler") and node.getState().contains(pyatspi.STATE_FOCUSABLE)
    if role in CONTROL_ROLES or isFocusableImage:
        actions = actionsOf(node)
        # GTK's menu button is a button around the button a user presses: that one acts for it.
        if not actions and role in BUTTON_ROLES:
            inner = [node.getChildAtIndex(index) for index in range(node.childCount)]
            actions = [name for child in inner if child is not None and child.getRoleName() in BUTTON_ROLES and child.name
                       for name in actionsOf(child)]
        controls.append({"role": role, "name": node.name or "", "actions": actions})
    for index in range(node.childCount):
        child = node.getChildAtIndex(index)
        if child is not None:
            controlsUnder(child, controls)
    return controls


def windowNamed(title):
    desktop = pyatspi.Registry.getDesktop(0)
    for index in range(desktop.childCount):
        application = desktop.getChildAtIndex(index)
        if application is None or not (application.name or "").startswith("halcyra"):
            continue
        for windowIndex in range(application.childCount):
            window = application.getChildAtIndex(windowIndex)
            if window is not None and window.name == title:
                return window
    return None


def main():
    window = windowNamed(sys.argv[1])
    if window is None:
        desktop = pyatspi.Registry.getDesktop(0)
        seen = []
        for index in range(desktop.childCount):
            application = desktop.getChildAtIndex(index)
            if application is not None:
                seen.append([application.name] + [application.getChildAtIndex(i).name for i in range(application.childCount) if application.getChildAtIndex(i) is not None])
        print(json.dumps({"missing": sys.argv[1], "seen": seen}))
        return
    controls = controlsUnder(window, [])
    problems = [control for control in controls
                if not control["name"].strip() or CLASS_NAME.match(control["name"]) or SAID_TWICE.match(control["name"]) or (control["role"] in BUTTON_ROLES and not control["actions"])]
    print(json.dumps({"controls": controls, "problems": problems}))


if __name__ == "__main__":
    main()
