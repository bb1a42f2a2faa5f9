"""The resources cmake/resources.cmake compiles into launcher.exe."""
import os
import re

import desktop

# What windres gives a resource that names no language: US English.
DEFAULT_LANGUAGE = 0x409


def listed_resources():
    """(id, type, file, language) of each entry."""
    text = open(os.path.join(desktop.ROOT, "cmake", "resources.cmake")).read()
    return [(int(i), t, f, int(lang) if lang else DEFAULT_LANGUAGE)
            for i, t, f, lang in re.findall(r'"(\d+);(\w+);([^";]+)(?:;LANGUAGE=(\d+))?"', text)]
