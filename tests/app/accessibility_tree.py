"""Prints, as JSON, what a screen reader finds over AT-SPI in the windows of Halcyra (or of one of
its test programs, named halcyra-...): for each window its name, role, the texts of its labels, its
controls with role, name and actions, and the controls it could not use (no name, a class name,
a name said twice, or a button without an action). Given a title, only that window, or the
windows seen instead. Run in a process of its own for each look: pyatspi keeps the tree of its
first look.

    accessibility_tree.py [WINDOW-TITLE]"""

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


def children(node):
    return [child for child in (node.getChildAtIndex(index) for index in range(node.childCount)) if child is not None]


def read(node, window):
    role = node.getRoleName()
    # A page's own content is the page's business, not the application's; what is not on screen
    # (another page of a stack) is not read out.
    if role == "document web" or not node.getState().contains(pyatspi.STATE_VISIBLE):
        return
    if role == "label" and node.name:
        window["texts"].append(node.name)
    # A picture or plain widget a user can focus and act on (a framing tile) is a control too.
    if role in CONTROL_ROLES or (role in ("image", "filler") and node.getState().contains(pyatspi.STATE_FOCUSABLE)):
        actions = actionsOf(node)
        # GTK's menu button is a button around the button a user presses: that one acts for it.
        if not actions and role in BUTTON_ROLES:
            actions = [name for child in children(node) if child.getRoleName() in BUTTON_ROLES and child.name
                       for name in actionsOf(child)]
        window["controls"].append({"role": role, "name": node.name or "", "actions": actions})
    for child in children(node):
        read(child, window)


def windows():
    found = []
    for application in children(pyatspi.Registry.getDesktop(0)):
        if not (application.name or "").startswith("halcyra"):
            continue
        for node in children(application):
            window = {"name": node.name, "role": node.getRoleName(), "texts": [], "controls": []}
            read(node, window)
            window["problems"] = [control for control in window["controls"]
                                  if not control["name"].strip() or CLASS_NAME.match(control["name"])
                                  or SAID_TWICE.match(control["name"]) or (control["role"] in BUTTON_ROLES and not control["actions"])]
            found.append(window)
    return found


if __name__ == "__main__":
    found = windows()
    if len(sys.argv) > 1:
        named = [window for window in found if window["name"] == sys.argv[1]]
        found = named[0] if named else {"missing": sys.argv[1], "seen": [window["name"] for window in found]}
    print(json.dumps(found))
