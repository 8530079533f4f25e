// Removal of the product's Windows service by the uninstaller.
#pragma once

// Stops the service when it is not stopped and, without waiting for it to
// stop, asks the service control manager to delete it; Windows removes it
// once it has stopped and its handles are closed. True when the deletion was
// requested (accepted or not); false when the manager or the service cannot
// be opened, its status cannot be read, or it refuses to stop (it then stays
// installed). Messages go to standard output, not to the log:
// "Stop Service failed:%d!\n", "Uninstall Service Success!\n",
// "Uninstall Service failed:%d!\n".
bool UninstallService(const wchar_t* serviceName);
