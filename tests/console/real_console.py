#!/usr/bin/python3
"""A person at a real console: the tool in a pseudo-terminal, typed at as a
technician types, judged by the screen, the exit status and the camera's trace.

usage: real_console.py WORK_DIR FIRMWARE_DIR PROFILE_DIR COMMAND...
  COMMAND runs the tool, e.g. "sh tools/wine.sh 64 q713-update.exe"; set
  Q713_WINDOWS=1 for a Windows console, which does not discard typed-ahead
  keys, so only the interrupt and window checks run there. Started directly,
  the exe has a console of its own there; through wine's cmd it shares it.
  Q713_CONSOLE_PROBE names a q713-update.exe beside a simulated library that
  traces the console it finds inside each call.
"""
import os
import re
import shutil
import signal
import sys
import time

try:
    import pexpect
except ImportError:
    print("python3-pexpect is not installed; skipped")
    sys.exit(77)

WORK, FIRMWARE, PROFILES = sys.argv[1:4]
COMMAND = sys.argv[4:]
WINDOWS = os.environ.get("Q713_WINDOWS") == "1"
PROBE = os.environ.get("Q713_CONSOLE_PROBE")
CLOSING = "Hit <return> to close this window."
FINAL_REBOOT = "(note the blinking LEDs)."
FIRST_REBOOT = "when it is up again."
REACTION = 0.2  # seconds
failures = []


class Screen:
    """What a person sees of the tool: its output with the terminal's cursor
    movements taken out (a Windows console redraws text with them)."""

    def __init__(self, child, trace):
        self.child, self.trace, self.raw, self.seen = child, trace, "", 0

    def text(self):
        text = re.sub(r"\x1b\[(\d*)C", lambda m: " " * int(m.group(1) or 1), self.raw)
        text = re.sub(r"\x1b\[[0-9;?]*[A-Za-z]|\x1b\][^\x07]*\x07", "", text)
        return text.replace("\r", "")

    def read(self, timeout):
        """False when nothing more came within timeout seconds."""
        try:
            self.raw += self.child.read_nonblocking(4096, timeout)
            return True
        except pexpect.TIMEOUT:
            return False

    def expect(self, wanted, timeout=30):
        """Waits until wanted appears after what was expected before."""
        deadline = time.monotonic() + timeout
        while wanted not in self.text()[self.seen:]:
            left = deadline - time.monotonic()
            if left <= 0 or not self.read(left):
                raise pexpect.TIMEOUT("not on the screen: " + wanted)
        self.seen = self.text().index(wanted, self.seen) + len(wanted)

    def rest(self):
        return self.text()[self.seen:]

    def quiet(self, seconds):
        """True when no visible text arrives for that long."""
        before = self.text().strip()
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            self.read(max(0.05, deadline - time.monotonic()))
        return self.text().strip() == before

    # A person needs a moment to react to what appeared; without it the test
    # could type between the prompt and the discard of keys typed before it.
    def send(self, keys):
        time.sleep(REACTION)
        self.child.send(keys)

    def interrupt(self):
        time.sleep(REACTION)
        self.child.sendintr()

    def end_input(self):
        time.sleep(REACTION)
        self.child.sendeof()

    def hang_up(self):
        time.sleep(REACTION)
        self.child.kill(signal.SIGHUP)

    def ends(self):
        """The exit status and the signal that ended the tool."""
        try:
            while True:
                self.raw += self.child.read_nonblocking(4096, 30)
        except pexpect.EOF:
            pass
        self.child.close()
        return self.child.exitstatus, self.child.signalstatus


def start(name, profile_lines, command=COMMAND):
    """The tool in a fresh folder with both images, on the given camera."""
    folder = os.path.join(WORK, name)
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    for image in os.listdir(FIRMWARE):
        shutil.copy(os.path.join(FIRMWARE, image), folder)
    with open(os.path.join(folder, "camera.txt"), "w") as camera:
        camera.write("".join(profile_lines))
    env = {k: v for k, v in os.environ.items() if k in ("PATH", "HOME", "WINEPREFIX")}
    env.update(KVX_SIM_CAMERA="camera.txt", KVX_SIM_TRACE="trace.txt", WINEDEBUG="-all")
    child = pexpect.spawn(command[0], command[1:], cwd=folder, env=env, timeout=60,
                          encoding="latin-1", dimensions=(50, 200))
    return Screen(child, os.path.join(folder, "trace.txt"))


def sample(name, *extra):
    with open(os.path.join(PROFILES, name)) as text:
        return [text.read(), "\n"] + [line + "\n" for line in extra]


def calls(screen):
    """The library calls so far, without the simulated camera's events."""
    with open(screen.trace) as trace:
        return [line for line in trace.read().splitlines() if not line.startswith("sim:")]


def events(screen):
    with open(screen.trace) as trace:
        return [line for line in trace.read().splitlines() if line.startswith("sim:")]


def check(condition, what):
    if not condition:
        failures.append(what)
    return condition


def still_waiting(screen, what):
    """Nothing more comes and the camera is left alone: the tool waits at the prompt."""
    if not check(screen.quiet(0.5), what + ": went on with " + repr(screen.rest())):
        return False
    return check(calls(screen)[-1].startswith("KVXclose"), what + ": the camera was reconnected")


def typed_ahead_returns_never_confirm_a_reboot():
    screen = start("retry_returns", sample("fw200.txt", "open-fails = 1 -3"))
    screen.expect("Repeat (r) or quit (q) ?")
    screen.send("\r\r")  # one return answers, the other is typed ahead
    screen.expect(FINAL_REBOOT)
    if still_waiting(screen, "two returns at the retry prompt"):
        screen.send("\r")
        screen.expect("Firmware update done.")
        screen.expect("r to repeat.")
        screen.send("q\r")
        check(screen.ends() == (0, None), "the update after the retry did not end with 0")


def one_line_answers_one_reboot_prompt():
    screen = start("reboot_line", sample("fw142-20130226.txt"))
    screen.expect(FIRST_REBOOT)
    screen.send("ok\r")
    screen.expect(FINAL_REBOOT)
    if still_waiting(screen, "ok at the first reboot prompt"):
        screen.send("\r")
        screen.expect("Firmware update done.")
        screen.send("q\r")
        check(screen.ends() == (0, None), "the patch path did not end with 0")


def interrupt_during_a_load_waits_for_it(name, interrupt):
    screen = start(name, sample("fw200.txt", "load-ms = 1000"))
    screen.expect("Loading firmware")
    screen.expect("percentage")  # the transfer is under way
    interrupt(screen)
    screen.expect("Firmware written.")
    screen.expect("Stopped at the user's request.")
    screen.expect(HALF_UPDATED)  # the load is in: standard error says where that left it
    if WINDOWS:
        screen.expect(CLOSING)  # a window of its own would close with the table
        screen.send("\r")
    status, by_signal = screen.ends()
    check(status not in (0, None) and by_signal is None,
          "%s: ended with status %s, signal %s" % (name, status, by_signal))
    check("sim: camera 1 loaded 2.3.1" in events(screen), name + ": the image is not pending")
    check(not any(call.startswith("KVXopen") for call in calls(screen)[2:]),
          name + ": the camera was touched after the load")


def a_stopped_terminal_never_holds_the_load():
    screen = start("ctrl_s_during_load", sample("fw200.txt", "load-ms = 3000"))
    screen.expect("Loading firmware")
    screen.send("\x13")  # Ctrl-S: the terminal stops taking output
    deadline = time.monotonic() + 15
    while not any(call.startswith("KVXfirmwareUpdate") for call in calls(screen)):
        if time.monotonic() > deadline:
            check(False, "Ctrl-S during a load: the load did not end while output was stopped")
            break
        time.sleep(0.1)
    check("Firmware written." not in screen.text(),
          "Ctrl-S during a load: output went on: " + repr(screen.rest()))
    screen.send("\x11")  # Ctrl-Q: every line follows, in order
    screen.expect("status 0, percentage 20\nstatus 0, percentage 40\nstatus 0, percentage 60\n"
                  "status 0, percentage 80\nstatus 0, percentage 100\nFirmware written.\n")
    screen.expect(FINAL_REBOOT)
    screen.end_input()
    check(screen.ends() == (255, None), "Ctrl-S during a load: the run did not end with -1")


def interrupt_at_a_prompt_ends_at_once():
    screen = start("ctrl_c_at_reboot", sample("fw200.txt"))
    screen.expect(FINAL_REBOOT)
    screen.interrupt()
    status, by_signal = screen.ends()
    check(status != 0 and (by_signal is not None or status is not None),
          "Ctrl-C at the reboot prompt: status %s, signal %s" % (status, by_signal))
    check("Stopped" not in screen.rest(), "Ctrl-C at the reboot prompt was held back")


def in_a_window_of_its_own_every_ending_waits_for_return():
    screen = start("own_window_ctrl_c_at_reboot", sample("fw200.txt"))
    screen.expect(FINAL_REBOOT)
    screen.interrupt()
    screen.expect("Stopped at the user's request.")
    screen.expect(CLOSING)
    check(still_waiting(screen, "the window's wait"), "the window closed without a return")
    # There Ctrl-C is a key: the window and its table stay until a return.
    screen.interrupt()
    check(still_waiting(screen, "Ctrl-C at the window's wait"), "Ctrl-C closed the window")
    screen.send("\r")
    check(screen.ends() == (255, None), "Ctrl-C at the reboot prompt did not end with -1")
    check(screen.text().count("Stopped at the user's request.") == 1,
          "Ctrl-C at the reboot prompt: not told exactly once: " + repr(screen.text()))
    check(not any(call.startswith("KVXopen") for call in calls(screen)[2:]),
          "Ctrl-C at the reboot prompt reconnected the camera")

    screen = start("own_window_give_up", sample("fw200.txt", "open-fails = 1 -3"))
    screen.expect("Repeat (r) or quit (q) ?")
    # The keys show as typed and Backspace takes one back: q gives up.
    screen.send("x\bq\r")
    screen.expect("q\n" + CLOSING)
    screen.send("\r")
    check(screen.ends() == (255, None), "giving up did not end with -1")


def in_a_shared_window_an_interrupt_at_a_prompt_ends_at_once():
    # COMMAND is the loader and the exe; wine's cmd starts the exe by its drive Z: path.
    exe = "Z:" + COMMAND[-1].replace("/", "\\")
    screen = start("shared_window_ctrl_c", sample("fw200.txt"), COMMAND[:-1] + ["cmd", "/c", exe])
    screen.expect(FINAL_REBOOT)
    screen.interrupt()
    status, by_signal = screen.ends()
    # The status is cmd's (wine's cmd gives 0): the camera and the screen tell.
    check(calls(screen)[-1].startswith("KVXclose"), "Ctrl-C through cmd: the camera was reconnected")
    check("Stopped" not in screen.rest() and CLOSING not in screen.rest(),
          "Ctrl-C through cmd printed " + repr(screen.rest()))


def held_steps_guard_the_console_they_run_in():
    screen = start("console_probe", sample("fw200.txt"), COMMAND[:-1] + [PROBE])
    screen.expect(FINAL_REBOOT)
    screen.send("\r")
    screen.expect("r to repeat.")
    screen.send("q\r")
    check(screen.ends() == (0, None), "the probed update did not end with 0")
    check(CLOSING not in screen.text(), "a quit after a completed update waited to close")
    # Each console event comes right before the line of its call.
    with open(screen.trace) as trace:
        lines = trace.read().splitlines()
    seen = []
    for i, line in enumerate(lines):
        found = re.match(r"sim: console input mode (0x[0-9a-f]+), buffer (\d+) lines, close (\w+), "
                         r"log-off (\w+)", line)
        if found:
            call = next(l for l in lines[i + 1:] if not l.startswith("sim:")).split()[0]
            seen.append((call, int(found.group(1), 16), int(found.group(2)), found.group(3),
                         found.group(4)))
    start_mode = seen[0][1]
    check(seen[0][0] == "KVXinitConfig" and seen[0][2] >= 9999,
          "the screen buffer at start: %s" % (seen[0],))
    held = [s for s in seen if s[0] in ("KVXfirmwareUpdate", "KVXwriteRegister")]
    check(len(held) == 19, "held calls seen: %d" % len(held))
    # Quick-edit and insert mode come back on where the start's mode lacked
    # the extended flags (0x80) and so could not tell them.
    restored = start_mode if start_mode & 0x80 else start_mode | 0xE0
    # Without a window driver wine makes no window, not even the hidden one
    # that refuses a log-off (wine's null driver, Graphics=null, makes it).
    guarded = any(s[4] != "unguarded" for s in seen)
    for call, mode, lines_, close, log_off in held:
        check(mode == restored & ~0x40 and close in ("greyed", "none") and
              log_off == ("refused" if guarded else "unguarded"),
              "%s saw mode 0x%x, close %s, log-off %s (0x%x at start)"
              % (call, mode, close, log_off, start_mode))
    for call, mode, lines_, close, log_off in seen:
        if call not in ("KVXfirmwareUpdate", "KVXwriteRegister"):
            check(mode in (start_mode, restored) and close in ("enabled", "none") and
                  log_off in ("allowed", "unguarded"),
                  "%s saw mode 0x%x, close %s, log-off %s after a held step"
                  % (call, mode, close, log_off))


# The console text stays as it was; standard error, on the same screen, says
# where the camera was left.
HALF_UPDATED = ("q713-update: the camera was left half updated: run q713-restore with the saved "
                "console text.")


def end_of_input_at_a_reboot_prompt_says_only_where_it_left_the_camera():
    screen = start("ctrl_d_at_reboot", sample("fw200.txt"))
    screen.expect(FINAL_REBOOT)
    screen.end_input()
    status, by_signal = screen.ends()
    check((status, by_signal) == (255, None), "Ctrl-D: status %s, signal %s" % (status, by_signal))
    check(screen.rest().strip() == HALF_UPDATED, "Ctrl-D printed " + repr(screen.rest()))
    check(not any(call.startswith("KVXopen") for call in calls(screen)[2:]),
          "Ctrl-D reconnected the camera")


def main():
    checks = [
        ("Ctrl-C during a load", lambda: interrupt_during_a_load_waits_for_it(
            "ctrl_c_during_load", lambda screen: screen.interrupt())),
    ]
    if WINDOWS:
        checks += [
            ("a window of its own", in_a_window_of_its_own_every_ending_waits_for_return),
            ("a window shared with cmd", in_a_shared_window_an_interrupt_at_a_prompt_ends_at_once),
        ]
        if PROBE:
            checks += [("the console in held steps", held_steps_guard_the_console_they_run_in)]
    else:
        checks += [
            ("Ctrl-C at a reboot prompt", interrupt_at_a_prompt_ends_at_once),
            ("hangup during a load", lambda: interrupt_during_a_load_waits_for_it(
                "hangup_during_load", lambda screen: screen.hang_up())),
            ("typed-ahead returns", typed_ahead_returns_never_confirm_a_reboot),
            ("a line at a reboot prompt", one_line_answers_one_reboot_prompt),
            ("Ctrl-D at a reboot prompt",
             end_of_input_at_a_reboot_prompt_says_only_where_it_left_the_camera),
            ("Ctrl-S during a load", a_stopped_terminal_never_holds_the_load),
        ]
    for name, run in checks:
        try:
            run()
        except (pexpect.TIMEOUT, pexpect.EOF) as error:
            failures.append("%s: %s" % (name, str(error).splitlines()[0]))
    for failure in failures:
        print("FAILED:", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
