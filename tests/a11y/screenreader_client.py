"""A screen reader's view of both programs, through AT-SPI alone.

Run by screenreader_under_xvfb.sh inside an X server and a session bus of its own, with Debian's
python3 (pyatspi). Starts the accessibility bus, then each program on the demo databases, and
checks what a screen reader would announce and do: the names and roles of every box and button,
the focus chain of the entry screen in input modes 2 and 4, the bonus figures read through the
value and text interfaces, a deduction class changed and the figures read again, the save, and
two ledgers printed from mox030. Every step waits for what it needs with a timeout; the first
failure ends the run with exit code 1 and says what was expected and what was found.

Usage: screenreader_client.py MOX110 MOX030 DATA_DIR
"""

import os
import re
import subprocess
import sys
import time

import pyatspi

MOX110_CAPTION = "期末勤勉手当計算結果入力"
MOX030_CAPTION = "個人別給与累計表印刷"
JAPANESE = re.compile("[\u3040-\u30ff\u3400-\u9fff\uff00-\uffef]")
KEY_TAB, KEY_DOWN = 0xFF09, 0xFF54

# The boxes and buttons of the entry screen that take the focus, in the tab order of the form,
# with the role a screen reader must hear. A drop-down list reads its chosen item as its name on
# this desktop; its caption comes through the "labelled by" relation, so the caption is what is
# checked for it.
ENTRY_SCREEN = [
    ("職員コード", "combo box"),
    ("期末手当支給率", "text"), ("勤勉手当成績率", "text"),
    ("健康厚生控除区分", "combo box"), ("雇用保険控除区分", "combo box"),
    ("期末手当在職期間の月数", "text"), ("期末手当在職期間の日数", "text"), ("期末期間率", "text"),
    ("勤勉手当在職期間の月数", "text"), ("勤勉手当在職期間の日数", "text"), ("勤勉期間率", "text"),
    ("コメント1", "text"), ("コメント2", "text"), ("コメント3", "text"),
    ("給料", "text"), ("給料調整額", "text"), ("教職調整額", "text"), ("扶養手当", "text"),
    ("地域(期末)", "text"), ("地域(勤勉)", "text"), ("期末手当", "text"), ("勤勉手当", "text"),
    ("健康保険", "text"), ("厚生年金", "text"), ("雇用保険", "text"), ("所得税", "text"),
    ("前月課税給与", "text"), ("前月分所得税", "text"),
    ("総支給合計", "text"), ("非課税合計", "text"), ("社会保険計", "text"), ("課税対象額", "text"),
    ("控除額合計", "text"), ("現金支給額", "text"),
    ("期末手当支給割合", "text"), ("勤勉手当支給割合", "text"), ("扶養親族等", "text"),
    ("所得税税率", "text"),
] + [("F%d" % k, "push button") for k in range(1, 13)]

# Key mode 0 (the empty screen): the buttons with an action and their names.
MODE0_KEYS = {"F10 終了", "F11 読込"}
# Key mode 3 (a new entry): F1, F4 and F12.
MODE3_KEYS = ["F1 前月計", "F4 取消", "F12 更新"]
# Input mode 2: only the deduction classes take input (pay class other than 4).
CHAIN_MODE2 = ["健康厚生控除区分", "雇用保険控除区分"] + MODE3_KEYS
# Input mode 4 (HYOKBN 9): every input but the management rates, the period rates, the comments
# (pay class other than 4), the totals and the payment proportions.
CHAIN_MODE4 = [
    "健康厚生控除区分", "雇用保険控除区分",
    "期末手当在職期間の月数", "期末手当在職期間の日数", "勤勉手当在職期間の月数", "勤勉手当在職期間の日数",
    "給料", "給料調整額", "教職調整額", "扶養手当", "地域(期末)", "地域(勤勉)", "期末手当", "勤勉手当",
    "健康保険", "厚生年金", "雇用保険", "所得税", "前月課税給与", "前月分所得税",
    "扶養親族等", "所得税税率",
] + MODE3_KEYS


class Failure(Exception):
    pass


RUNNING = []  # the programs started, ended when the run fails


def wait_for(what, probe, timeout=15.0):
    """The first true result of probe() within timeout seconds; otherwise a failure naming what."""
    end = time.monotonic() + timeout
    while True:
        try:
            result = probe()
        except Failure:
            raise
        except Exception:  # an object that went away while it was read
            result = None
        if result:
            return result
        if time.monotonic() > end:
            raise Failure("timed out waiting for " + what)
        time.sleep(0.05)


def nodes(root):
    yield root
    for child in root:
        if child is not None:
            yield from nodes(child)


def labelled_by(obj):
    for relation in obj.getRelationSet():
        if relation.getRelationType() == pyatspi.RELATION_LABELLED_BY:
            return [relation.getTarget(i).name for i in range(relation.getNTargets())]
    return []


def spoken_name(obj):
    """What a screen reader says the widget is: a drop-down list by its label, the rest by name."""
    if obj.getRoleName() == "combo box":
        labels = labelled_by(obj)
        return re.sub(r"\s", "", labels[0]) if labels else ""
    return obj.name


def state(obj, which):
    return obj.getState().contains(which)


class Program:
    def __init__(self, binary, caption, data_dir):
        env = dict(os.environ, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", QT_ACCESSIBILITY="1")
        self.name = os.path.basename(binary)
        self.caption = caption
        self.process = subprocess.Popen([binary, "demo"], cwd=data_dir, env=env)
        self.app = wait_for(self.name + " on the accessibility bus", self._find_app, 30)
        if self.process.poll() is not None:
            raise Failure("%s ended with %d at start" % (self.name, self.process.returncode))
        self.window = wait_for("the window " + caption, lambda: self.find(caption, "filler",
                                                                          self.app, depth=1))
        RUNNING.append(self.process)
        wid = subprocess.run(["xdotool", "search", "--sync", "--onlyvisible", "--name", caption],
                             capture_output=True, text=True, timeout=30).stdout.split()
        if not wid:
            raise Failure(caption + ": no X window")
        self.wid = wid[0]
        self.activate()

    def activate(self):
        """The desktop's part, done by a window manager on a real desktop (this X server has
        none): the form gets the keyboard focus, at start and back from a closed dialog."""
        subprocess.run(["xdotool", "windowfocus", "--sync", self.wid], timeout=30, check=True)

    def _find_app(self):
        if self.process.poll() is not None:
            raise Failure("%s ended with %d at start" % (self.name, self.process.returncode))
        for app in pyatspi.Registry.getDesktop(0):
            if app is not None and app.name == self.name:
                return app
        return None

    def find(self, name, role, root=None, depth=None):
        for obj in (root or self.window) if depth == 1 else nodes(root or self.window):
            if obj is not None and obj.getRoleName() == role and spoken_name(obj) == name:
                return obj
        return None

    def get(self, name, role):
        return wait_for("%s 「%s」" % (role, name), lambda: self.find(name, role))

    def focused(self, candidates):
        found = [o for o in candidates if state(o, pyatspi.STATE_FOCUSED)]
        return found[0] if len(found) == 1 else None

    def ended(self, timeout):
        try:
            return self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            self.process.kill()
            raise Failure(self.name + " did not end")


def press(button):
    if not state(button, pyatspi.STATE_ENABLED):
        raise Failure("button 「%s」 is disabled" % button.name)
    action = button.queryAction()
    names = [action.getName(i) for i in range(action.nActions)]
    action.doAction(names.index("Press"))


def key(keysym):
    pyatspi.Registry.generateKeyboardEvent(keysym, None, pyatspi.KEY_SYM)


def focusables(program):
    """Every widget a person reaches with the keyboard (the items of lists are reached through
    their list and the drop-down's own list through its box)."""
    found = []
    for obj in nodes(program.window):
        if not state(obj, pyatspi.STATE_FOCUSABLE):
            continue
        if obj.getRoleName() in ("list item", "table cell"):
            continue
        if obj.getRoleName() == "list" and obj.parent.getRoleName() == "combo box":
            continue
        found.append(obj)
    return found


def check_names_and_roles(program):
    found = focusables(program)
    heard = [(spoken_name(o), o.getRoleName()) for o in found]
    for (name, role), obj in zip(heard, found):
        if not name:
            index = obj.getIndexInParent()
            before = obj.parent[index - 1].name if index > 0 else ""
            raise Failure("a %s without a name, next to 「%s」" % (role, before))
        if role != "push button" and not JAPANESE.search(name):
            raise Failure("%s named %r: not Japanese" % (role, name))
        if role == "push button" and not re.fullmatch(r"F([1-9]|1[0-2])( \S+)?", name):
            raise Failure("button named %r: not the key and its caption" % name)
    unknown = sorted(set(heard) - set((n, r) for n, r in ENTRY_SCREEN if r != "push button")
                     - set(h for h in heard if h[1] == "push button"))
    if unknown:
        raise Failure("widgets not on the entry screen: %s" % unknown)
    # The tree follows the frames; the tab order is checked by walking the focus chain.
    expected_plain = sorted((n, r) for n, r in ENTRY_SCREEN if r != "push button")
    if sorted(h for h in heard if h[1] != "push button") != expected_plain:
        raise Failure("the screen's boxes are:\n  %s\nexpected:\n  %s"
                      % (sorted(h[0] for h in heard if h[1] != "push button"),
                         [n for n, _ in expected_plain]))
    buttons = [o for o in found if o.getRoleName() == "push button"]
    if len(buttons) != 12:
        raise Failure("%d function-key buttons, expected 12" % len(buttons))
    enabled = {b.name for b in buttons if state(b, pyatspi.STATE_ENABLED)}
    if enabled != MODE0_KEYS:
        raise Failure("enabled keys on the empty screen: %s, expected %s" % (enabled, MODE0_KEYS))
    if buttons[1].name != "F2" or state(buttons[1], pyatspi.STATE_SENSITIVE):
        raise Failure("F2 should read 「F2」 and be disabled: %r" % buttons[1].name)
    print("names and roles: %d focusable widgets named" % len(found))
    return found


def check_focus_chain(program, candidates, expected, mode):
    first = wait_for("the focus on 「%s」" % expected[0], lambda: (
        lambda f: f if f is not None and spoken_name(f) == expected[0] else None)(
            program.focused(candidates)))
    chain = [spoken_name(first)]
    current = first
    for _ in expected[1:] + [expected[0]]:
        key(KEY_TAB)
        previous = current
        current = wait_for("the focus to move on from 「%s」" % spoken_name(previous), lambda: (
            lambda f: f if f is not None and f != previous else None)(program.focused(candidates)))
        chain.append(spoken_name(current))
    if chain != expected + [expected[0]]:
        raise Failure("focus chain in input mode %d:\n  %s\nexpected:\n  %s"
                      % (mode, " → ".join(chain), " → ".join(expected + [expected[0]])))
    print("focus chain in input mode %d: %d stops" % (mode, len(expected)))


def choose(program, combo_caption, wanted_prefix, presses=80):
    """Picks the item of a drop-down list that starts with wanted_prefix, with the arrow key."""
    combo = program.get(combo_caption, "combo box")
    # Qt's drop-down list offers no focus action to AT-SPI; the keyboard user's Tab reaches it.
    for _ in range(60):
        if state(combo, pyatspi.STATE_FOCUSED):
            break
        key(KEY_TAB)
        time.sleep(0.1)
    else:
        raise Failure("Tab never reached 「%s」" % combo_caption)
    for _ in range(presses):
        if combo.name.startswith(wanted_prefix):
            return combo
        before = combo.name
        key(KEY_DOWN)
        wait_for("「%s」 to move on from %r" % (combo_caption, before),
                 lambda: combo.name != before, 5)
    raise Failure("「%s」 has no item %r" % (combo_caption, wanted_prefix))


def figure(program, caption):
    """The amount of the box captioned caption, read through the value and the text interface;
    both must agree."""
    box = program.get(caption, "text")
    value = box.queryValue().currentValue
    text = box.queryText().getText(0, -1)
    if float(text.replace(",", "") or 0) != value:
        raise Failure("「%s」 shows %r but its value is %r" % (caption, text, value))
    return int(value), text


def expect_figures(program, expected, when):
    for caption, amount in expected.items():
        got = wait_for("「%s」 to read %d %s" % (caption, amount, when),
                       lambda: (lambda f: f if f[0] == amount else None)(figure(program, caption)),
                       10)
        print("%s: 「%s」 reads %s" % (when, caption, got[1]))


def check_message_box(program):
    """F11 with nobody chosen: the box is read by its title and its text."""
    press(program.get("F11 読込", "push button"))
    box = wait_for("the message box", lambda: next(
        (w for w in program.app if w is not None and w.name == MOX110_CAPTION
         and w.getRoleName() in ("dialog", "alert")), None))
    text = "職員が選択されていません。"
    title, description = box.name, box.description
    labels = [o.name for o in nodes(box) if o.getRoleName() == "label"]
    if description != text or text not in labels:
        raise Failure("message box: description %r, labels %r" % (description, labels))
    ok = wait_for("the OK button", lambda: next(
        (o for o in nodes(box) if o.getRoleName() == "push button"), None))
    press(ok)
    wait_for("the message box to close", lambda: all(
        w is None or w.getRoleName() not in ("dialog", "alert") for w in program.app))
    program.activate()
    print("message box: 「%s」 read as %r" % (title, description))


def call_up(program, code, candidates):
    choose(program, "職員コード", code)
    press(program.get("F11 読込", "push button"))
    # The call-up ends with the focus on the first deduction class and the keys of mode 3.
    wait_for("F12 to read 「F12 更新」", lambda: program.find("F12 更新", "push button"))


def entry_screen(mox110, data_dir):
    program = Program(mox110, MOX110_CAPTION, data_dir)
    candidates = check_names_and_roles(program)
    check_message_box(program)

    # Input mode 4: a hand-entered employee (HYOKBN 9), then F4 discards the screen.
    call_up(program, "1101023", candidates)
    check_focus_chain(program, candidates, CHAIN_MODE4, 4)
    press(program.get("F4 取消", "push button"))
    wait_for("the empty screen after F4", lambda: program.find("F11 読込", "push button"))

    # Input mode 2: employee 10025, the README's worked example.
    call_up(program, "0010025", candidates)
    check_focus_chain(program, candidates, CHAIN_MODE2, 2)
    expect_figures(program, {"期末手当": 454101, "総支給合計": 822788, "社会保険計": 0},
                   "called up")
    for caption in ("健康厚生控除区分", "雇用保険控除区分"):
        choose(program, caption, "1:")
    expect_figures(program, {"健康保険": 48293, "厚生年金": 75213, "雇用保険": 4113,
                             "社会保険計": 127619, "所得税": 42586, "現金支給額": 652583},
                   "both classes 1")
    press(program.get("F12 更新", "push button"))
    wait_for("the empty screen after F12", lambda: program.find("F11 読込", "push button"))
    row = subprocess.run(
        ["sqlite3", "-separator", " ", os.path.join(data_dir, "mox.db"),
         "select TOKKBN, ROUKBN, KIMATU, SSIKYU, SYAGOK, SYOTOK, SASIHK from GKKYUYO "
         "where SYOKCD = 10025 and KYUSYU = 2 and SKYUYM = 202612 and KYUSEQ = 0"],
        capture_output=True, text=True, check=True).stdout.split()
    if row != ["1", "1", "454101", "822788", "127619", "42586", "652583"]:
        raise Failure("the saved bonus record of 10025 is %r" % row)
    print("saved: " + " ".join(row))
    press(program.get("F10 終了", "push button"))
    program.ended(30)


def ledger(mox030, data_dir, print_dir):
    program = Program(mox030, MOX030_CAPTION, data_dir)
    employees = program.get("職員選択", "list")
    wanted = ["0010025 青木\u3000真理子", "1203340 石川\u3000大輔"]
    items = {o.name: o for o in employees}
    for name in wanted:
        if name not in items:
            raise Failure("the list has no item %r (first items %r)" % (name, list(items)[:3]))
        action = items[name].queryAction()
        action.doAction([action.getName(i) for i in range(action.nActions)].index("Toggle"))
    chosen = wait_for("two employees selected", lambda: (
        lambda s: s if len(s) == 2 else None)(
            [o.name for o in employees if state(o, pyatspi.STATE_SELECTED)]))
    if chosen != wanted:
        raise Failure("selected: %r" % chosen)
    print("selected: " + ", ".join(chosen))
    press(program.get("F6 印刷", "push button"))
    code = program.ended(60)
    if code != 0:
        raise Failure("mox030 ended with %d" % code)
    with open(os.path.join(print_dir, "OVL.TMP"), "rb") as f:
        pages = f.read().count(b"\r\nPE \r\n")
    if pages != 2:
        raise Failure("OVL.TMP holds %d pages, expected 2" % pages)
    if os.path.getsize(os.path.join(print_dir, "Mox030.pdf")) == 0:
        raise Failure("Mox030.pdf is empty")
    print("printed: %d pages, Mox030.pdf" % pages)


def main():
    mox110, mox030, data_dir = (os.path.abspath(a) for a in sys.argv[1:4])
    bus = subprocess.Popen(["/usr/libexec/at-spi-bus-launcher", "--launch-immediately"])
    try:
        entry_screen(mox110, data_dir)
        ledger(mox030, data_dir, os.path.dirname(mox030))
    except Failure as failure:
        print("FAILED: %s" % failure)
        return 1
    finally:
        for process in RUNNING:
            if process.poll() is None:
                process.kill()
        bus.terminate()
    return 0


if __name__ == "__main__":
    sys.exit(main())
