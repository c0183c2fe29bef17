#include "storage/atomicfile.h"

#include "storage/writeguard.h"

PreparedFile::PreparedFile(const QString &path, const QString &insideRoot)
    : m_file(path)
    , m_root(insideRoot)
{
}

bool PreparedFile::prepare(const QByteArray &bytes)
{
    m_ready = false;
    // QSaveFile follows a link at the path, even a dangling one, and writes where it leads.
    if (!m_root.isEmpty() && !writeStaysInside(m_file.fileName(), m_root))
        return false;
    // Unbuffered: a buffered write that fails at flush time can still be committed by QSaveFile.
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return false;
    qint64 written = 0;
    while (written < bytes.size()) {
        const qint64 n = m_file.write(bytes.constData() + written, bytes.size() - written);
        if (n <= 0) {
            m_file.cancelWriting();
            return false;
        }
        written += n;
    }
    if (!m_file.flush() || m_file.error() != QFileDevice::NoError) {
        m_file.cancelWriting();
        return false;
    }
    m_ready = true;
    return true;
}

bool PreparedFile::commit()
{
    if (!m_ready || m_file.error() != QFileDevice::NoError) {
        m_file.cancelWriting();
        return false;
    }
    m_ready = false;
    return m_file.commit();
}

bool writeFileAtomically(const QString &path, const QByteArray &bytes, const QString &insideRoot)
{
    PreparedFile file(path, insideRoot);
    return file.prepare(bytes) && file.commit();
}
