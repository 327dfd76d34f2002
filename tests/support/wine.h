#pragma once

// True in a Windows build running under Wine. A test that meets a limit of Wine (not of Windows)
// skips itself only then, so that it still runs on Windows, and on Linux always.
bool runningUnderWine();

// Why a test's own HTTPS server cannot run under Wine: Qt's schannel back end finds the server's
// certificate with CertFindChainInStore, which Wine 8 leaves a stub ("fixme ... stub" on the
// crypt channel), so the server side fails before any handshake.
inline constexpr char NoTlsServerUnderWine[] =
    "under Wine, schannel cannot serve TLS in-process (CertFindChainInStore is a stub)";
