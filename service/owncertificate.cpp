#include "owncertificate.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

template <class T, void (*Free)(T *)> struct Freer
{
    void operator()(T *p) const { Free(p); }
};
using Key = std::unique_ptr<EVP_PKEY, Freer<EVP_PKEY, EVP_PKEY_free>>;
using Certificate = std::unique_ptr<X509, Freer<X509, X509_free>>;

bool fail(std::string *error, const std::string &why)
{
    if (error)
        *error = why;
    return false;
}

std::string folderOf(const std::string &file)
{
    const size_t slash = file.rfind('/');
    return slash == std::string::npos ? std::string(".") : file.substr(0, slash == 0 ? 1 : slash);
}

// Each folder of the path that is missing, made private to the user.
bool makeFolders(const std::string &folder)
{
    for (size_t at = 1; at <= folder.size(); ++at) {
        if (at < folder.size() && folder[at] != '/')
            continue;
        const std::string part = folder.substr(0, at);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST)
            return false;
    }
    return true;
}

bool addExtension(X509 *certificate, int nid, const char *value)
{
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, certificate, certificate, nullptr, nullptr, 0);
    X509_EXTENSION *extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
    const bool added = extension && X509_add_ext(certificate, extension, -1) == 1;
    X509_EXTENSION_free(extension);
    return added;
}

Certificate selfSigned(EVP_PKEY *key)
{
    Certificate certificate(X509_new());
    unsigned char serial[16];
    if (!certificate || RAND_bytes(serial, sizeof serial) != 1)
        return nullptr;
    serial[0] &= 0x7f; // positive
    BIGNUM *number = BN_bin2bn(serial, sizeof serial, nullptr);
    const bool made = number && BN_to_ASN1_INTEGER(number, X509_get_serialNumber(certificate.get()));
    BN_free(number);
    X509_NAME *name = X509_get_subject_name(certificate.get());
    if (!made || X509_set_version(certificate.get(), 2) != 1
        || !X509_gmtime_adj(X509_getm_notBefore(certificate.get()), -3600)
        // Long-lived: clients pin it, and a pin must not expire under them.
        || !X509_gmtime_adj(X509_getm_notAfter(certificate.get()), 10L * 366 * 24 * 3600)
        || X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                                      reinterpret_cast<const unsigned char *>("zelko-service"), -1, -1, 0)
               != 1
        || X509_set_issuer_name(certificate.get(), name) != 1 || X509_set_pubkey(certificate.get(), key) != 1
        || !addExtension(certificate.get(), NID_basic_constraints, "critical,CA:FALSE")
        || !addExtension(certificate.get(), NID_key_usage, "critical,digitalSignature")
        || !addExtension(certificate.get(), NID_ext_key_usage, "serverAuth")
        || !addExtension(certificate.get(), NID_subject_alt_name, "DNS:localhost,IP:127.0.0.1,IP:::1")
        || X509_sign(certificate.get(), key, EVP_sha256()) == 0)
        return nullptr;
    return certificate;
}

// Writes through a file of the given mode beside it, then renames: a reader never sees half.
template <class Write> bool writeFile(const std::string &path, mode_t mode, Write write)
{
    const std::string partial = path + ".new";
    ::unlink(partial.c_str());
    const int fd = ::open(partial.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd < 0)
        return false;
    FILE *file = ::fdopen(fd, "w");
    if (!file) {
        ::close(fd);
        return false;
    }
    const bool written = write(file) == 1;
    return std::fclose(file) == 0 && written && ::rename(partial.c_str(), path.c_str()) == 0;
}

} // namespace

std::string OwnCertificate::defaultFolder()
{
    if (const char *state = std::getenv("STATE_DIRECTORY"); state && *state) {
        // systemd may give several, separated by colons: the first is the service's.
        const std::string folders(state);
        return folders.substr(0, folders.find(':'));
    }
    if (const char *state = std::getenv("XDG_STATE_HOME"); state && *state == '/')
        return std::string(state) + "/zelko-service";
    const char *home = std::getenv("HOME");
    return std::string(home && *home ? home : ".") + "/.local/state/zelko-service";
}

bool OwnCertificate::ensure(const std::string &certFile, const std::string &keyFile, std::string *error)
{
    const auto exists = [](const std::string &path) { return ::access(path.c_str(), F_OK) == 0; };
    if (exists(certFile) && exists(keyFile))
        return true;
    const std::string folder = folderOf(keyFile);
    if (!makeFolders(folder) || !makeFolders(folderOf(certFile)))
        return fail(error, "cannot make " + folder + ": " + std::strerror(errno));
    const std::string lockFile = folder + "/.zelko-service.lock";
    const int lock = ::open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (lock < 0 || ::flock(lock, LOCK_EX) != 0) {
        if (lock >= 0)
            ::close(lock);
        return fail(error, "cannot lock " + lockFile + ": " + std::strerror(errno));
    }
    // Another service may have made them while this one waited.
    bool made = exists(certFile) && exists(keyFile);
    if (!made) {
        Key key(EVP_EC_gen("P-256"));
        Certificate certificate = key ? selfSigned(key.get()) : nullptr;
        made =
            certificate
            && writeFile(keyFile, 0600,
                         [&](FILE *f) {
                             return PEM_write_PrivateKey(f, key.get(), nullptr, nullptr, 0, nullptr, nullptr);
                         })
            && writeFile(certFile, 0644, [&](FILE *f) { return PEM_write_X509(f, certificate.get()); });
        if (!made)
            fail(error, "cannot make a key and certificate in " + keyFile + " and " + certFile);
    }
    ::close(lock);
    return made;
}
