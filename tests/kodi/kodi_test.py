#!/usr/bin/python3
"""Debian's real Kodi plays a tagged song with Lumenvortex as its
visualisation, and two screenshots of the visualisation window show it.

kodi_test.py ADDON_ZIP

A private world for Kodi: Xvfb (Mesa's llvmpipe draws), a PulseAudio daemon
with a null sink (Kodi's PulseAudio sink paces playback by it; an ALSA null
device would not), and a profile in a temporary HOME whose
advancedsettings.xml moves JSON-RPC's TCP port to a free one. The add-on's
zip is unpacked into the profile's addons folder, which is what Kodi's
"Install from zip file" does; the test then drives Kodi over JSON-RPC as a
remote would. Exit 77 (skipped) without Kodi or Xvfb.
"""
import json
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import zipfile

from PIL import Image

ADDON_ID = "visualization.lumenvortex"
KODI = "/usr/lib/x86_64-linux-gnu/kodi/kodi.bin"
TITLE = "Lumen Test Song"
WAIT = 60.0  # seconds for anything Kodi does; generous for a loaded machine


KEEP = {"tmp": False}   # a failed run keeps its folder for people to look at


def fail(message):
    KEEP["tmp"] = True
    print("FAIL: " + message)
    sys.exit(1)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_for(what, check, timeout=WAIT):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        result = check()
        if result:
            return result
        time.sleep(0.25)
    fail("timed out waiting for " + what)


class JsonRpc:
    def __init__(self, port):
        self.port = port
        self.next_id = 0

    def call(self, method, params=None):
        self.next_id += 1
        request = {"jsonrpc": "2.0", "id": self.next_id, "method": method}
        if params is not None:
            request["params"] = params
        with socket.create_connection(("127.0.0.1", self.port), timeout=WAIT) as s:
            s.sendall(json.dumps(request).encode())
            decoder = json.JSONDecoder()
            buffer = ""
            while True:
                chunk = s.recv(65536)
                if not chunk:
                    fail(method + ": Kodi closed the connection")
                buffer += chunk.decode("utf-8", "replace")
                try:
                    answer, _ = decoder.raw_decode(buffer.lstrip())
                except ValueError:
                    continue
                # Notifications come on the same connection: skip them.
                if answer.get("id") == self.next_id:
                    if "error" in answer:
                        fail("%s%s: %s" % (method, params, answer["error"]))
                    return answer.get("result")
                buffer = ""

    def answers(self):
        try:
            return self.call("JSONRPC.Ping") == "pong"
        except OSError:
            return False


def start_xvfb(tmp):
    read, write = os.pipe()
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write), "-screen", "0", "1280x720x24", "-nolisten", "tcp",
                             "-auth", "/dev/null"], pass_fds=[write], stdout=subprocess.DEVNULL,
                            stderr=open(os.path.join(tmp, "xvfb.log"), "w"))
    os.close(write)
    number = b""
    while not number.endswith(b"\n"):
        byte = os.read(read, 1)
        if not byte:
            fail("Xvfb did not start: see xvfb.log")
        number += byte
    os.close(read)
    return xvfb, ":" + number.decode().strip()


def start_pulse(tmp):
    folder = os.path.join(tmp, "pulse")
    os.makedirs(folder)
    env = dict(os.environ, HOME=folder, XDG_RUNTIME_DIR=folder, PULSE_RUNTIME_PATH=folder, PULSE_STATE_PATH=folder,
               DISPLAY="", DBUS_SESSION_BUS_ADDRESS="", PULSE_SERVER="")
    socket_path = os.path.join(folder, "native")
    pulse = subprocess.Popen(
        ["/usr/bin/pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--disallow-exit",
         "--disable-shm=true", "--use-pid-file=false", "--log-target=stderr",
         "--load=module-native-protocol-unix socket=%s auth-anonymous=1" % socket_path,
         "--load=module-null-sink sink_name=lvtest rate=44100 sink_properties=device.description=LvTest"],
        env=env, stdout=subprocess.DEVNULL, stderr=open(os.path.join(tmp, "pulse.log"), "w"))
    server = "unix:" + socket_path
    wait_for("PulseAudio", lambda: subprocess.run(["pactl", "info"], env=dict(env, PULSE_SERVER=server),
                                                  capture_output=True).returncode == 0)
    return pulse, server


def make_song(tmp):
    """Forty seconds of a pulsing bass and a ticking hi-hat, tagged."""
    path = os.path.join(tmp, "music", "song.flac")
    os.makedirs(os.path.dirname(path))
    sound = ("0.5*sin(2*PI*55*t)*(0.5+0.5*sin(2*PI*2*t))+0.3*sin(2*PI*440*t)*lt(mod(t,0.5),0.1)"
             "+0.2*(random(0)-0.5)*lt(mod(t,0.25),0.03)")
    subprocess.run(["ffmpeg", "-v", "error", "-f", "lavfi", "-i", "aevalsrc='%s|%s':s=44100:d=40" % (sound, sound),
                    "-metadata", "title=" + TITLE, "-metadata", "artist=The Test Band",
                    "-metadata", "album=Songs for Tests", path], check=True)
    return path


def make_profile(tmp, port, shots):
    home = os.path.join(tmp, "home")
    userdata = os.path.join(home, ".kodi", "userdata")
    os.makedirs(userdata)
    with open(os.path.join(userdata, "advancedsettings.xml"), "w") as f:
        f.write("<advancedsettings version=\"1.0\"><jsonrpc><tcpport>%d</tcpport></jsonrpc>"
                "<loglevel>1</loglevel></advancedsettings>\n" % port)
    # Remote control from this machine on (JSON-RPC over TCP), and where screenshots go.
    with open(os.path.join(userdata, "guisettings.xml"), "w") as f:
        f.write("<settings version=\"2\">\n"
                "  <setting id=\"services.esenabled\">true</setting>\n"
                "  <setting id=\"debug.screenshotpath\">%s</setting>\n"
                "</settings>\n" % shots)
    return home


def install_zip(zip_path, home):
    addons = os.path.join(home, ".kodi", "addons")
    os.makedirs(addons, exist_ok=True)
    with zipfile.ZipFile(zip_path) as z:
        z.extractall(addons)
        # zipfile drops the modes; "Install from zip file" keeps the library executable.
        for info in z.infolist():
            mode = info.external_attr >> 16
            if mode:
                os.chmod(os.path.join(addons, info.filename), mode & 0o777)
    if not os.path.exists(os.path.join(addons, ADDON_ID, "addon.xml")):
        fail("the zip holds no %s/addon.xml" % ADDON_ID)


def screenshot(rpc, shots, count):
    rpc.call("Input.ExecuteAction", {"action": "screenshot"})
    def taken():
        files = sorted(f for f in os.listdir(shots) if f.endswith(".png"))
        return files if len(files) > count else None
    files = wait_for("screenshot %d" % (count + 1), taken)
    path = os.path.join(shots, files[count])
    # Kodi writes the file from another thread: it is whole once it decodes.
    def whole():
        try:
            image = Image.open(path)
            image.load()
            return image.convert("RGB")
        except Exception:
            return None
    return wait_for("a whole screenshot", whole)


def colourful_share(image):
    """The share of pixels that are clearly coloured (not grey, not black)."""
    small = image.resize((320, 180))
    pixels = list(small.getdata())
    coloured = sum(1 for r, g, b in pixels if max(r, g, b) > 60 and max(r, g, b) - min(r, g, b) > 40)
    return coloured / len(pixels)


def text_share(image, box):
    """The share of grey-to-white pixels: lettering, where the scene's
    background always has one channel near black."""
    pixels = list(image.crop(box).getdata())
    return sum(1 for p in pixels if min(p) > 40) / len(pixels)


def difference(a, b):
    small_a, small_b = a.resize((320, 180)), b.resize((320, 180))
    return sum(abs(x - y) for p, q in zip(small_a.getdata(), small_b.getdata()) for x, y in zip(p, q)) / (320 * 180 * 3)


def main():
    if len(sys.argv) != 2:
        print("usage: kodi_test.py ADDON_ZIP")
        return 2
    for program in (KODI, "/usr/bin/Xvfb", "/usr/bin/pulseaudio", "/usr/bin/ffmpeg"):
        if not os.path.exists(program):
            print("skipped: %s is missing (scripts/setup installs it)" % program)
            return 77
    tmp = tempfile.mkdtemp(prefix="lv-kodi-")
    children = []
    try:
        xvfb, display = start_xvfb(tmp)
        children.append(xvfb)
        pulse, server = start_pulse(tmp)
        children.append(pulse)
        song = make_song(tmp)
        shots = os.path.join(tmp, "shots")
        os.makedirs(shots)
        port = free_port()
        home = make_profile(tmp, port, shots)
        install_zip(sys.argv[1], home)

        env = dict(os.environ, HOME=home, DISPLAY=display, KODI_AE_SINK="PULSE", PULSE_SERVER=server,
                   LIBGL_ALWAYS_SOFTWARE="1", XDG_RUNTIME_DIR=os.path.join(tmp, "pulse"))
        env.pop("WAYLAND_DISPLAY", None)
        kodi = subprocess.Popen([KODI, "--windowing=x11", "--standalone"], env=env, stdout=subprocess.DEVNULL,
                                stderr=open(os.path.join(tmp, "kodi.stderr"), "w"), start_new_session=True)
        children.append(kodi)
        rpc = JsonRpc(port)
        wait_for("Kodi's JSON-RPC on port %d" % port, rpc.answers)

        # A fresh profile holds a new add-on disabled.
        rpc.call("Addons.SetAddonEnabled", {"addonid": ADDON_ID, "enabled": True})
        details = rpc.call("Addons.GetAddonDetails", {"addonid": ADDON_ID, "properties": ["enabled", "name"]})
        if not details["addon"]["enabled"]:
            fail("Kodi did not enable the add-on: %s" % details)
        rpc.call("Settings.SetSettingValue", {"setting": "musicplayer.visualisation", "value": ADDON_ID})
        rpc.call("Settings.SetSettingValue", {"setting": "debug.screenshotpath", "value": shots})

        rpc.call("Player.Open", {"item": {"file": song}})
        wait_for("playback", lambda: rpc.call("Player.GetActivePlayers"))
        # Kodi refuses the window while a dialog of its own (a question about
        # the new add-on) is open: each is answered "back" until it opens.
        # Such a question can also come a moment after the window opened (on
        # a loaded machine, after the first check): each screenshot waits for
        # the window with no dialog over it.
        def visualising():
            window = rpc.call("GUI.GetProperties", {"properties": ["currentwindow"]})["currentwindow"]["id"]
            dialog = rpc.call("XBMC.GetInfoBooleans", {"booleans": ["System.HasActiveModalDialog"]})
            if window == 12006 and not dialog.get("System.HasActiveModalDialog"):
                return True
            rpc.call("Input.ExecuteAction", {"action": "close"})
            rpc.call("GUI.ActivateWindow", {"window": "visualisation"})
            time.sleep(0.5)
            return False
        def visualisation_shot(index):
            wait_for("the visualisation window", visualising)
            return screenshot(rpc, shots, index)
        wait_for("the visualisation window", visualising)
        # The overlay shows the track for three seconds, then fades out over two.
        time.sleep(1.0)
        first = visualisation_shot(0)
        # On a loaded machine Kodi may draw only a frame or two in a second:
        # a still picture is asked again a few times before it counts as one.
        taken = 1
        for attempt in range(5):
            time.sleep(1.0)
            second = visualisation_shot(taken)
            taken += 1
            if difference(first, second) >= 1.0:
                break
        time.sleep(4.5)
        later = visualisation_shot(taken)

        log_path = os.path.join(home, ".kodi", "temp", "kodi.log")
        log = open(log_path, encoding="utf-8", errors="replace").read()
        for name, image in (("first", first), ("second", second), ("later", later)):
            image.save(os.path.join(tmp, name + ".png"))
        keep = os.environ.get("LV_BINARY_DIR")
        if keep:
            out = os.path.join(keep, "test-output", "kodi")
            os.makedirs(out, exist_ok=True)
            for name in ("first.png", "second.png", "later.png"):
                shutil.copy(os.path.join(tmp, name), out)
            shutil.copy(log_path, out)

        problems = []
        errors = [l for l in log.splitlines() if " error " in l.lower() and re.search("lumenvortex", l, re.I)]
        if errors:
            problems.append("the add-on's errors in kodi.log:\n  " + "\n  ".join(errors))
        if not re.search(r"lumenvortex", log, re.I):
            problems.append("kodi.log never mentions the add-on")
        moved = difference(first, second)
        print("mean difference between the frames: %.2f of 255" % moved)
        if moved < 1.0:
            problems.append("the frames do not move (mean difference %.2f)" % moved)
        for name, image in (("first", first), ("second", second)):
            share = colourful_share(image)
            print("%s frame: %.1f%% coloured pixels" % (name, 100 * share))
            if share < 0.02:
                problems.append("the %s frame holds none of the scene's colours (%.1f%%)" % (name, 100 * share))
        # The overlay's title: white lettering in the lower left, 20 to 84
        # pixels above the bottom (under Kodi's darkening bottom bar, which
        # Kodi draws after the visualisation), while it shows, and none once
        # it has faded.
        w, h = first.size
        band = (15, h - 64, 200, h - 16)   # below the progress bar, left of the time
        shown, gone = text_share(first, band), text_share(later, band)
        print("lettering in the title's place: %.2f%% while shown, %.2f%% after" % (100 * shown, 100 * gone))
        if shown < 0.01 or shown < 4 * gone:
            problems.append("no title in the overlay's place (%.2f%% lettering, %.2f%% after)"
                            % (100 * shown, 100 * gone))
        if problems:
            fail("; ".join(problems) + " (screenshots and kodi.log in %s)" % tmp)
        rpc.call("Application.Quit")
        wait_for("Kodi to quit", lambda: kodi.poll() is not None)
        print("ok")
        return 0
    finally:
        # Kodi runs in a session of its own, with whatever it started.
        for child in reversed(children):
            if child.poll() is None:
                if child.args[0] == KODI:
                    os.killpg(child.pid, signal.SIGKILL)
                else:
                    child.kill()
                child.wait()
        if not KEEP["tmp"]:
            shutil.rmtree(tmp, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
