#!/usr/bin/python3
"""Reads and drives a window through the accessibility tree (AT-SPI), the way
a screen reader does, for the end-to-end tests. The window is the first one
titled TITLE in any application on the session's accessibility bus; each
command waits up to SECS seconds (default 10) for it and for the widget.
TITLE "--alert" is the message box open (GTK names a message box after its
kind, "Error" or "Question", not after its title).

  atspi.py texts TITLE [SECS]          the names of its labels, buttons and
                                       check boxes, one a line, in tree order
  atspi.py press TITLE NAME [SECS]     activate the button, check box or tab
                                       named NAME
  atspi.py set TITLE LABEL VALUE [SECS]  put VALUE into the shown text field
                                       on the label LABEL's row
  atspi.py checked TITLE NAME [SECS]   print 1 or 0: is that check box ticked
Exits 1 with a reason when the window or the widget is not found.
"""
import sys
import time

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi, GLib  # noqa: E402

R = Atspi.Role
TEXT_ROLES = {R.LABEL, R.PUSH_BUTTON, R.CHECK_BOX, R.TOGGLE_BUTTON, R.PAGE_TAB}


def windows(title):
    desktop = Atspi.get_desktop(0)
    for i in range(desktop.get_child_count()):
        app = desktop.get_child_at_index(i)
        for j in range(app.get_child_count() if app else 0):
            win = app.get_child_at_index(j)
            if win is None:
                continue
            if win.get_name() == title if title != "--alert" else name_role(win)[1] == R.ALERT:
                yield win


def walk(node, depth=0):
    """Every node under `node`, in tree order, skipping what vanishes."""
    if node is None or depth > 40:
        return
    yield node
    try:
        count = node.get_child_count()
    except GLib.Error:
        return
    for k in range(count):
        try:
            child = node.get_child_at_index(k)
        except GLib.Error:
            continue
        yield from walk(child, depth + 1)


def name_role(node):
    try:
        return node.get_name(), node.get_role()
    except GLib.Error:
        return "", None


def find(title, pick, deadline):
    """Calls pick(nodes of the window) until it gives something or time is up."""
    while True:
        for win in windows(title):
            found = pick(list(walk(win)))
            if found is not None:
                return found
        if time.monotonic() > deadline:
            return None
        time.sleep(0.2)


def main():
    cmd, title, rest = sys.argv[1], sys.argv[2], sys.argv[3:]
    need = {"texts": 0, "press": 1, "set": 2, "checked": 1}[cmd]
    deadline = time.monotonic() + (float(rest[need]) if len(rest) > need else 10)

    if cmd == "texts":
        out = find(title, lambda nodes: [n for n, r in map(name_role, nodes) if r in TEXT_ROLES and n] or None,
                   deadline)
        if out:
            print("\n".join(out))
            return 0
        return fail(f"no window titled {title!r}")

    if cmd in ("press", "checked"):
        wanted = rest[0]
        node = find(title, lambda nodes: next(
            (n for n in nodes if name_role(n) == (wanted, name_role(n)[1]) and name_role(n)[1] in TEXT_ROLES
             and name_role(n)[1] != R.LABEL), None), deadline)
        if node is None:
            return fail(f"no {wanted!r} in {title!r}")
        if cmd == "checked":
            print(1 if node.get_state_set().contains(Atspi.StateType.CHECKED) else 0)
            return 0
        if node.get_role() == R.PAGE_TAB:
            parent = node.get_parent()
            parent.select_child(node.get_index_in_parent())
        else:
            node.do_action(0)
        return 0

    label, value = rest[0], rest[1]

    def box(n):
        e = n.get_extents(Atspi.CoordType.SCREEN)
        return e.x, e.y, e.width, e.height

    def showing(n):
        return n.get_state_set().contains(Atspi.StateType.SHOWING)

    # Tree order is not screen order (a grid lists its children last first):
    # the field is the nearest one beside the label, on its row.
    def field_beside_label(nodes):
        labels = [n for n in nodes if name_role(n) == (label, R.LABEL) and showing(n)]
        if not labels:
            return None
        lx, ly, lw, lh = box(labels[0])
        best = None
        for n in nodes:
            if name_role(n)[1] != R.TEXT or not showing(n):
                continue
            x, y, w, h = box(n)
            if abs((y + h / 2) - (ly + lh / 2)) > lh:
                continue
            gap = max(x - (lx + lw), lx - (x + w))
            if best is None or gap < best[0]:
                best = (gap, n)
        return best[1] if best else None

    node = find(title, field_beside_label, deadline)
    if node is None:
        return fail(f"no text field beside {label!r} in {title!r}")
    node.set_text_contents(value)
    return 0


def fail(reason):
    print(f"atspi: {reason}", file=sys.stderr)
    return 1


sys.exit(main())
