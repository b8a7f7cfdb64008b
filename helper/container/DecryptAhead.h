#pragma once
// Decrypts the next piece of a file on a second thread while the caller
// writes or decodes the piece before it, so that decryption costs hardly any
// time where a second core is free. One piece at a time: the caller waits for
// it before touching the piece's buffer or its decryptor again.

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>

namespace rarcontainer {

class AesCbcDecryptor;

class DecryptAhead {
public:
    DecryptAhead() = default;
    ~DecryptAhead();
    DecryptAhead(const DecryptAhead &) = delete;
    DecryptAhead &operator=(const DecryptAhead &) = delete;

    // Decrypts size bytes (a multiple of 16) of data in place, in the
    // background. False when no thread can be had: the caller decrypts itself.
    bool start(AesCbcDecryptor &decryptor, uint8_t *data, size_t size);
    // Whether a piece was started and not yet waited for.
    bool pending() const { return m_pending; }
    // Waits for the piece started last; false when its decryption failed.
    bool wait();

private:
    void run();

    std::thread m_thread;
    std::mutex m_lock;
    std::condition_variable m_wake;
    AesCbcDecryptor *m_decryptor = nullptr;
    uint8_t *m_data = nullptr;
    size_t m_size = 0;
    bool m_queued = false;   // a piece waits for the thread
    bool m_done = false;     // the thread finished the piece
    bool m_ok = true;
    bool m_quit = false;
    bool m_pending = false;  // caller side: started, not yet waited for
};

}  // namespace rarcontainer
