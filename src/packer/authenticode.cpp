#include "authenticode.h"

#include <openssl/bio.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>

#include <memory>
#include <vector>

#include "system.h"

namespace quarvel {
namespace {

// WIN_CERTIFICATE: dwLength, wRevision, wCertificateType, then the certificate itself.
constexpr size_t entryHeaderSize = 8;
constexpr uint16_t pkcsSignedData = 2;  // WIN_CERT_TYPE_PKCS_SIGNED_DATA
// Larger tables are not read whole for a line of display.
constexpr uint32_t largestTableRead = 1 << 20;

template <typename T, void (*Free)(T *)>
struct Freer {
    void operator()(T *p) const { Free(p); }
};
using Pkcs7 = std::unique_ptr<PKCS7, Freer<PKCS7, PKCS7_free>>;
using Bio = std::unique_ptr<BIO, Freer<BIO, BIO_free_all>>;
void FreeCertificates(STACK_OF(X509) * certificates) { sk_X509_free(certificates); }
using Certificates = std::unique_ptr<STACK_OF(X509), Freer<STACK_OF(X509), FreeCertificates>>;

}  // namespace

std::optional<std::string> SignerSubject(const std::string &path, const CertificateTable &table)
{
    if (table.size <= entryHeaderSize || table.size > largestTableRead)
        return std::nullopt;
    std::vector<uint8_t> bytes(table.size);
    if (FileHandle::OpenForReading(path).ReadAt(table.offset, bytes.data(), bytes.size()) !=
        bytes.size())
        return std::nullopt;
    uint32_t entryLength = bytes[0] | bytes[1] << 8 | bytes[2] << 16 | (uint32_t)bytes[3] << 24;
    uint16_t type = (uint16_t)(bytes[6] | bytes[7] << 8);
    if (type != pkcsSignedData || entryLength <= entryHeaderSize || entryLength > bytes.size())
        return std::nullopt;

    const unsigned char *der = bytes.data() + entryHeaderSize;
    Pkcs7 signedData(d2i_PKCS7(nullptr, &der, (long)(entryLength - entryHeaderSize)));
    if (!signedData || !PKCS7_type_is_signed(signedData.get()))
        return std::nullopt;
    // The certificates that the signer infos name, found among those the signature carries.
    Certificates signers(PKCS7_get0_signers(signedData.get(), nullptr, PKCS7_NOVERIFY));
    if (!signers || sk_X509_num(signers.get()) < 1)
        return std::nullopt;
    Bio text(BIO_new(BIO_s_mem()));
    X509_NAME *subject = X509_get_subject_name(sk_X509_value(signers.get(), 0));
    if (!text || X509_NAME_print_ex(text.get(), subject, 0, XN_FLAG_RFC2253) < 0)
        return std::nullopt;
    char *data = nullptr;
    long length = BIO_get_mem_data(text.get(), &data);
    return std::string(data, (size_t)length);
}

}  // namespace quarvel
