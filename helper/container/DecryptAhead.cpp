#include "DecryptAhead.h"

#include "AesCbc.h"

#include <system_error>

namespace rarcontainer {

DecryptAhead::~DecryptAhead()
{
    if (!m_thread.joinable()) return;
    {
        std::lock_guard guard(m_lock);
        m_quit = true;
    }
    m_wake.notify_all();
    m_thread.join();
}

bool DecryptAhead::start(AesCbcDecryptor &decryptor, uint8_t *data, size_t size)
{
    if (m_pending && !wait()) return false;
    if (!m_thread.joinable()) {
        try {
            m_thread = std::thread(&DecryptAhead::run, this);
        } catch (const std::system_error &) {
            return false;
        }
    }
    {
        std::lock_guard guard(m_lock);
        m_decryptor = &decryptor;
        m_data = data;
        m_size = size;
        m_queued = true;
        m_done = false;
    }
    m_wake.notify_all();
    m_pending = true;
    return true;
}

bool DecryptAhead::wait()
{
    if (!m_pending) return true;
    std::unique_lock guard(m_lock);
    m_wake.wait(guard, [this] { return m_done; });
    m_pending = false;
    return m_ok;
}

void DecryptAhead::run()
{
    std::unique_lock guard(m_lock);
    for (;;) {
        m_wake.wait(guard, [this] { return m_queued || m_quit; });
        if (m_quit) return;
        m_queued = false;
        AesCbcDecryptor *decryptor = m_decryptor;
        uint8_t *data = m_data;
        const size_t size = m_size;
        guard.unlock();
        const bool ok = decryptor->decrypt(data, data, size);
        guard.lock();
        m_ok = ok;
        m_done = true;
        m_wake.notify_all();
    }
}

}  // namespace rarcontainer
