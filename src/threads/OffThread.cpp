#include "threads/OffThread.h"

namespace OffThread {

WishPtr Latest::renew()
{
    drop();
    m_wish = std::make_shared<Wish>();
    return m_wish;
}

void Latest::drop()
{
    if (m_wish)
        m_wish->drop();
    m_wish.reset();
}

} // namespace OffThread
