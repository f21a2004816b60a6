"""Per-user folders and the window's remembered settings.

Settings live in ~/.config/orvane/gui.json (XDG_CONFIG_HOME), %APPDATA%\\orvane\\gui.json on
Windows, ~/Library/Application Support/orvane on macOS. Only the named fields are written: the login
token never reaches the disk, whatever the caller passes."""
import json
import os
import sys

from .job_settings import REMEMBERED

# What the window remembers: the job's fields that a settings file may hold, and the window's own;
# everything else (the token above all) is left out on saving.
FIELDS = REMEMBERED + ("archive", "failed", "geometry", "language", "advanced")
# (language: "zh_CN", "en", or absent for the system's, see i18n.setup)


def _home_dir(windows_var, xdg_var, xdg_default, mac_dir):
    if sys.platform.startswith("win"):
        base = os.environ.get(windows_var) or os.path.expanduser("~")
    elif sys.platform == "darwin":
        base = os.path.expanduser(mac_dir)
    else:
        base = os.environ.get(xdg_var) or os.path.expanduser(xdg_default)
    return os.path.join(base, "orvane")


def config_dir():
    return _home_dir("APPDATA", "XDG_CONFIG_HOME", "~/.config", "~/Library/Application Support")


def cache_dir():
    return _home_dir("LOCALAPPDATA", "XDG_CACHE_HOME", "~/.cache", "~/Library/Caches")


def settings_path():
    return os.path.join(config_dir(), "gui.json")


def load(path=None):
    """The remembered settings (only the known fields); {} when there are none or they are unreadable."""
    try:
        with open(path or settings_path(), encoding="utf-8") as fh:
            data = json.load(fh)
    except (OSError, ValueError):
        return {}
    return {k: v for k, v in data.items() if k in FIELDS} if isinstance(data, dict) else {}


def save(values, path=None):
    """Write the known fields of ``values``; written beside and renamed, so a crash keeps the old file."""
    path = path or settings_path()
    os.makedirs(os.path.dirname(path), exist_ok=True)
    kept = {k: values[k] for k in FIELDS if k in values}
    part = path + ".part"
    with open(part, "w", encoding="utf-8") as fh:
        json.dump(kept, fh, ensure_ascii=False, indent=1, sort_keys=True)
    os.replace(part, path)
