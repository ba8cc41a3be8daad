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
// and ::1 in keyFile and certFile unless both exist; their folder is made (mode 0700) if
// missing. Several services starting at once make one pair. False with the reason in error.
bool ensure(const std::string &certFile, const std::string &keyFile, std::string *error);

} // namespace OwnCertificate

#endif
