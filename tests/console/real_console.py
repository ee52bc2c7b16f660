#!/usr/bin/python3
"""A person at a real console: the tool in a pseudo-terminal, typed at as a
technician types, judged by the screen, the exit status and the camera's trace.

usage: real_console.py WORK_DIR FIRMWARE_DIR PROFILE_DIR COMMAND...
  COMMAND runs the tool, e.g. "wine q713-update.exe"; set Q713_WINDOWS=1 for a
  Windows console, which does not discard typed-ahead keys, so only the
  interrupt checks run there.
"""
import os
import shutil
import signal
import sys

try:
    import pexpect
except ImportError:
    print("python3-pexpect is not installed; skipped")
    sys.exit(77)

WORK, FIRMWARE, PROFILES = sys.argv[1:4]
COMMAND = sys.argv[4:]
WINDOWS = os.environ.get("Q713_WINDOWS") == "1"
FINAL_REBOOT = "(note the blinking LEDs)."
FIRST_REBOOT = "when it is up again."
failures = []


def start(name, profile_lines):
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
    child = pexpect.spawn(COMMAND[0], COMMAND[1:], cwd=folder, env=env, timeout=60,
                          encoding="latin-1", dimensions=(50, 200))
    child.trace = os.path.join(folder, "trace.txt")
    return child


def sample(name, *extra):
    with open(os.path.join(PROFILES, name)) as text:
        return [text.read(), "\n"] + [line + "\n" for line in extra]


def calls(child):
    """The library calls so far, without the simulated camera's events."""
    with open(child.trace) as trace:
        return [line for line in trace.read().splitlines() if not line.startswith("sim:")]


def events(child):
    with open(child.trace) as trace:
        return [line for line in trace.read().splitlines() if line.startswith("sim:")]


def check(condition, what):
    if not condition:
        failures.append(what)
    return condition


def still_waiting(child, what):
    """Nothing more comes and the camera is left alone: the tool waits at the prompt."""
    made = len(calls(child))
    try:
        child.expect(r"\S", timeout=1)
        check(False, what + ": went on with " + repr(child.before + child.after))
        return False
    except pexpect.TIMEOUT:
        return check(len(calls(child)) == made and calls(child)[-1].startswith("KVXclose"),
                     what + ": the camera was reconnected")


def ends(child):
    child.expect(pexpect.EOF, timeout=30)
    child.close()
    return child.exitstatus, child.signalstatus


def typed_ahead_returns_never_confirm_a_reboot():
    child = start("retry_returns", sample("fw200.txt", "open-fails = 1 -3"))
    child.expect_exact("Repeat (r) or quit (q) ?")
    child.send("\r\r")  # one return answers, the other is typed ahead
    child.expect_exact(FINAL_REBOOT)
    if still_waiting(child, "two returns at the retry prompt"):
        child.send("\r")
        child.expect_exact("Firmware update done.")
        child.expect_exact("r to repeat.")
        child.send("q\r")
        check(ends(child) == (0, None), "the update after the retry did not end with 0")


def one_line_answers_one_reboot_prompt():
    child = start("reboot_line", sample("fw142-20130226.txt"))
    child.expect_exact(FIRST_REBOOT)
    child.send("ok\r")
    child.expect_exact(FINAL_REBOOT)
    if still_waiting(child, "ok at the first reboot prompt"):
        child.send("\r")
        child.expect_exact("Firmware update done.")
        child.send("q\r")
        check(ends(child) == (0, None), "the patch path did not end with 0")


def interrupt_during_a_load_waits_for_it(name, interrupt):
    child = start(name, sample("fw200.txt", "load-ms = 1500"))
    child.expect_exact("Loading firmware")
    child.expect_exact("percentage")  # the transfer is under way
    interrupt(child)
    child.expect_exact("Firmware written.")
    child.expect_exact("Stopped at the user's request.")
    status, by_signal = ends(child)
    check(status not in (0, None) and by_signal is None,
          "%s: ended with status %s, signal %s" % (name, status, by_signal))
    check("sim: camera 1 loaded 2.3.1" in events(child), name + ": the image is not pending")
    check(not any(call.startswith("KVXopen") for call in calls(child)[2:]),
          name + ": the camera was touched after the load")


def interrupt_at_a_prompt_ends_at_once():
    child = start("ctrl_c_at_reboot", sample("fw200.txt"))
    child.expect_exact(FINAL_REBOOT)
    child.sendintr()
    status, by_signal = ends(child)
    check(status != 0 and (by_signal is not None or status is not None),
          "Ctrl-C at the reboot prompt: status %s, signal %s" % (status, by_signal))
    check("Stopped" not in child.before, "Ctrl-C at the reboot prompt was held back")


def end_of_input_at_a_reboot_prompt_ends_silently():
    child = start("ctrl_d_at_reboot", sample("fw200.txt"))
    child.expect_exact(FINAL_REBOOT)
    child.sendeof()
    status, by_signal = ends(child)
    check((status, by_signal) == (255, None), "Ctrl-D: status %s, signal %s" % (status, by_signal))
    check(child.before.strip() == "", "Ctrl-D printed " + repr(child.before))
    check(not any(call.startswith("KVXopen") for call in calls(child)[2:]),
          "Ctrl-D reconnected the camera")


def main():
    checks = [
        ("Ctrl-C during a load", lambda: interrupt_during_a_load_waits_for_it(
            "ctrl_c_during_load", lambda child: child.sendintr())),
        ("Ctrl-C at a reboot prompt", interrupt_at_a_prompt_ends_at_once),
    ]
    if not WINDOWS:
        checks += [
            ("hangup during a load", lambda: interrupt_during_a_load_waits_for_it(
                "hangup_during_load", lambda child: child.kill(signal.SIGHUP))),
            ("typed-ahead returns", typed_ahead_returns_never_confirm_a_reboot),
            ("a line at a reboot prompt", one_line_answers_one_reboot_prompt),
            ("Ctrl-D at a reboot prompt", end_of_input_at_a_reboot_prompt_ends_silently),
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
