#ifndef OWNCERTIFICATE_H
#define OWNCERTIFICATE_H

#include <string>

// The service's own TLS identity, made on the machine it runs on rather than shipped: no two
// installations share a key, and nobody reads the key from a package.
namespace OwnCertificate {

// Where the service keeps it by default: systemd's StateDirectory ($STATE_DIRECTORY), else
// $XDG_STATE_HOME/zelko-service, else ~/.local/state/zelko-service.
std::string defaultFolder();

// Makes a key (EC P-256, mode 0600) and a self-signed certificate for localhost, 127.0.0.1
// and ::1 in keyFile and certFile when neither exists; their folder is made (mode 0700) if
// missing. Several services starting at once make one pair. A pair that is there is checked
// the way sshd checks its host keys, and refused rather than made again: one of the two
// missing, either not a regular file (a link, a FIFO), a key group or others may read or
// write, a folder they may write, or a key that is not the certificate's. False with the
// reason, naming the file, in error; when a pair was made, its certificate's SHA-256
// fingerprint ("AB:CD:...") in madeFingerprint, for the operator to pin.
bool ensure(const std::string &certFile, const std::string &keyFile, std::string *error,
            std::string *madeFingerprint = nullptr);

// A pair the operator gave: both regular files (links followed), the key the certificate's.
bool check(const std::string &certFile, const std::string &keyFile, std::string *error);

} // namespace OwnCertificate

#endif
