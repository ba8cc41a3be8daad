#include "owncertificate.h"

#include <openssl/err.h>
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

// A file that lstat finds, even a dangling link or one this user may not read: only a file
// that is plainly gone lets a new pair be made.
bool present(const std::string &path)
{
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0 || errno != ENOENT;
}

// Opened without waiting for a writer on a FIFO, and without following a link for the
// service's own files, then read only when it is a regular file. Null with the reason in error.
template <class T, class Free, class Read>
std::unique_ptr<T, Free> readPem(const std::string &path, bool followLinks, bool privateToUser,
                                 const char *what, Read read, std::string *error)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | (followLinks ? 0 : O_NOFOLLOW));
    struct stat st;
    if (fd < 0) {
        const int why = errno;
        fail(error, path + ": " + (why == ELOOP ? "a link, not a regular file" : std::strerror(why)));
        return nullptr;
    }
    BIO *bio = nullptr;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        fail(error, path + ": not a regular file");
    } else if (privateToUser && (st.st_mode & 077) != 0) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", unsigned(st.st_mode & 07777));
        fail(error, path + ": group or others may read or write it (mode " + mode + "); chmod 600 it");
    } else if (!(bio = BIO_new_fd(fd, BIO_CLOSE))) {
        fail(error, path + ": cannot be read");
    }
    if (!bio) {
        ::close(fd);
        return nullptr;
    }
    std::unique_ptr<T, Free> value(read(bio));
    BIO_free(bio);
    if (!value)
        fail(error, path + ": not a PEM " + what);
    return value;
}

// Never asks for a passphrase: a service has nobody to ask.
int noPassphrase(char *, int, int, void *)
{
    return -1;
}

bool checkPair(const std::string &certFile, const std::string &keyFile, bool own, std::string *error)
{
    const Certificate certificate = readPem<X509, Freer<X509, X509_free>>(
        certFile, !own, false, "certificate",
        [](BIO *b) { return PEM_read_bio_X509(b, nullptr, noPassphrase, nullptr); }, error);
    const Key key =
        certificate ? readPem<EVP_PKEY, Freer<EVP_PKEY, EVP_PKEY_free>>(
            keyFile, !own, own, "private key (one without a passphrase)",
            [](BIO *b) { return PEM_read_bio_PrivateKey(b, nullptr, noPassphrase, nullptr); }, error)
                    : nullptr;
    // Also an RSA key beside an EC certificate: TLS would fail at each handshake instead.
    const bool paired = key && X509_check_private_key(certificate.get(), key.get()) == 1;
    if (key && !paired)
        fail(error, keyFile + ": not the key of the certificate " + certFile);
    // Nothing of these reads may be taken for a later TLS failure.
    ERR_clear_error();
    return paired;
}

// A folder group or others may write lets them swap the pair for one of theirs.
bool checkFolder(const std::string &folder, std::string *error)
{
    struct stat st;
    if (::stat(folder.c_str(), &st) != 0)
        return fail(error, folder + ": " + std::strerror(errno));
    if (!S_ISDIR(st.st_mode))
        return fail(error, folder + ": not a folder");
    if ((st.st_mode & 022) == 0)
        return true;
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", unsigned(st.st_mode & 07777));
    return fail(error,
                folder + ": group or others may write to this folder (mode " + mode + "); chmod go-w it");
}

// As `openssl x509 -fingerprint -sha256` prints it.
std::string fingerprint(X509 *certificate)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    std::string hex;
    if (X509_digest(certificate, EVP_sha256(), digest, &size) != 1)
        return hex;
    for (unsigned int i = 0; i < size; ++i) {
        char byte[4];
        std::snprintf(byte, sizeof byte, i == 0 ? "%02X" : ":%02X", digest[i]);
        hex += byte;
    }
    return hex;
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

bool OwnCertificate::ensure(const std::string &certFile, const std::string &keyFile, std::string *error,
                            std::string *madeFingerprint)
{
    const std::string folder = folderOf(keyFile), certFolder = folderOf(certFile);
    if (!makeFolders(folder) || !makeFolders(certFolder))
        return fail(error, "cannot make " + folder + ": " + std::strerror(errno));
    if (!checkFolder(folder, error) || (certFolder != folder && !checkFolder(certFolder, error)))
        return false;
    // Taken for the checks too, so that a pair another service is making is waited for, not
    // found half made. A folder this user may not write holds a pair nobody makes meanwhile.
    const std::string lockFile = folder + "/.zelko-service.lock";
    const int lock = ::open(lockFile.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    const int lockErrno = lock < 0 ? errno : ::flock(lock, LOCK_EX) == 0 ? 0 : errno;
    bool ok;
    if (present(certFile) && present(keyFile)) {
        ok = checkPair(certFile, keyFile, true, error);
    } else if (present(certFile) || present(keyFile)) {
        // Made again, it would change the certificate clients pinned without a word.
        const bool keyGone = present(certFile);
        ok = fail(error, (keyGone ? keyFile : certFile) + ": missing, while " + (keyGone ? certFile : keyFile)
                             + " is there; put it back, or remove both to have a new pair made");
    } else if (lockErrno != 0) {
        ok = fail(error, "cannot lock " + lockFile + ": " + std::strerror(lockErrno));
    } else {
        Key key(EVP_EC_gen("P-256"));
        Certificate certificate = key ? selfSigned(key.get()) : nullptr;
        ok = certificate && writeFile(keyFile, 0600, [&](FILE *f) {
                 return PEM_write_PrivateKey(f, key.get(), nullptr, nullptr, 0, nullptr, nullptr);
             });
        // A key alone would be refused at every later start.
        if (ok && !writeFile(certFile, 0644, [&](FILE *f) { return PEM_write_X509(f, certificate.get()); })) {
            ::unlink(keyFile.c_str());
            ok = false;
        }
        if (!ok)
            fail(error, "cannot make a key and certificate in " + keyFile + " and " + certFile);
        else if (madeFingerprint)
            *madeFingerprint = fingerprint(certificate.get());
    }
    if (lock >= 0)
        ::close(lock);
    return ok;
}

bool OwnCertificate::check(const std::string &certFile, const std::string &keyFile, std::string *error)
{
    return checkPair(certFile, keyFile, false, error);
}
