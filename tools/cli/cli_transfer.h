// The transfer commands of veltra_cli. `firmware` uploads an image through the engine, as the main
// window does. `xsend`, `xrecv` and `yrecv` run a plain XModem or YModem transfer on the first port to
// be probed, without the device protocol: for loaders, other equipment and the bench. Progress goes to
// standard output (on a terminal one line rewritten in place); Ctrl-C cancels the transfer in the way
// its protocol allows, a second Ctrl-C ends the program at once. Each returns the program's exit code.
#pragma once

#include <QString>

class TCliSession;

int UploadFirmware(TCliSession &session, const QString &fileName);
// With `ymodem` the file goes as a batch of one, which YModem receivers expect to be closed.
int SendByModem(const QString &fileName, bool ymodem);
// With `ymodem` the sender's name is kept, in the folder of `fileName`.
int ReceiveByModem(const QString &fileName, bool ymodem);
int ReceiveBatch(const QString &folder);
