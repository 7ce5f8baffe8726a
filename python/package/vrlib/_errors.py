"""The exception of the vrlib package."""

import re

# "setup.toml:7: screen.width_cm: ..." (vr_config_message): the file, the line and the key.
_CONFIG_MESSAGE = re.compile(r"^(?P<file>.+?):(?P<line>\d+): (?P<key>[A-Za-z_][\w.]*): ")


class Error(Exception):
    """A call the library refused.

    ``code`` is the ``vr_result`` of the call (``vrlib.ERR_BAD_VALUE``, ...), the
    ``vr_fit_result`` for :func:`vrlib.rigid_fit`, or None for calls that report only success or
    failure (set-up files, tracker start).  ``message`` is the library's own message.  For a
    refused set-up file, ``file``, ``line`` and ``key`` name where the fault is (else None).
    """

    def __init__(self, code, message):
        super().__init__(message)
        self.code = code
        self.message = message
        self.file = self.line = self.key = None
        match = _CONFIG_MESSAGE.match(message or "")
        if match and code is None:
            self.file = match.group("file")
            self.line = int(match.group("line"))
            self.key = match.group("key")

    def __str__(self):
        return self.message if self.code is None else f"{self.message} [code {self.code}]"
