#!/usr/bin/env python3
"""Writes the example scenarios under examples/scenarios (run from the repository root)."""
import json

SHIFT_FLAG = 0x20000


def write(name, note, steps, **start):
    doc = {"note": note, **start, "steps": steps}
    lines = ",\n".join("  " + json.dumps(s, separators=(",", ":")) for s in steps)
    head = json.dumps({k: v for k, v in doc.items() if k != "steps"}, ensure_ascii=False)[:-1]
    with open(f"examples/scenarios/{name}.json", "w", encoding="utf-8") as f:
        f.write(head + ',\n "steps":[\n' + lines + "\n]}\n")


def key(at, name, kind="keyDown", **extra):
    """One key event; keys are written by their names in the simulator's key table."""
    return {"at": round(at, 4), "type": kind, "key": name, **extra}


def scan(start, step=0.004):
    """A scanner typing Shift, QKDATUM and Return, each key pressed and released."""
    steps, at = [key(start, "Shift", "flagsChanged", flags=SHIFT_FLAG)], start
    for letter in "QKDATUM":
        at += step
        steps.append(key(at, letter))
        steps.append(key(at + step / 2, letter, "keyUp", flags=SHIFT_FLAG))
    at += step
    steps.append(key(at, "Shift", "flagsChanged"))
    steps.append(key(at + step, "Return"))
    steps.append(key(at + 1.5 * step, "Return", "keyUp"))
    return steps


write("clean-scan", "A scanner types the trigger code with Shift around it and Return: "
      "everything is swallowed but the Shift-up, and the parent gets dispatch-date.", scan(0.5))

# Typed with the short-hand: each letter pressed 0.06 s after the one before, released halfway.
quick = [{"at": 0.5, "type": "text", "text": "Quit", "interval": 0.06}]
write("person-types-quit", "A person types 'Quit': Shift passes, the Q is held until the U breaks "
      "the trigger, then the held events are replayed to the application in order.", quick)

click = [key(0.5, "Q"), key(0.53, "Q", "keyUp"), {"at": 0.56, "type": "leftMouseDown"}]
write("click-during-hold", "A click in the same application while Q is held: the held keys are "
      "re-posted through the hardware stream ahead of a copy of the click.", click)

switch = scan(0.5)[:7] + [{"at": 0.52, "frontmost": 777}] + scan(0.5)[7:]
switch.sort(key=lambda s: s["at"])
write("app-switch-mid-scan", "Another application comes to the front in the middle of a scan: the "
      "held keys go back to the first application and the scan is not recognised.", switch)
