#pragma once

// Asks the default data server whether it offers incremental synchronisation ("files/signature"
// and "files/patch"), logs the answer and returns it. Without a default data server no request
// is made and the answer is false.
bool QueryIncrementalSync();
