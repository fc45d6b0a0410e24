#include "model/mixins.h"

#include "model/property.h"

uint32_t HasUniqueId::uniqueId()
{
    if (m_id == 0) {
        if (Property* registry = idRegistry())
            m_id = static_cast<uint32_t>(registry->nextId(typeName()));
    }
    return m_id;
}

void HasUniqueId::setUniqueId(uint32_t id)
{
    // An id beyond the range is no id: one is issued when first asked for.
    m_id = isUniqueId(id) ? id : 0;
    if (m_id == 0)
        return;
    if (Property* registry = idRegistry())
        registry->bumpLastId(typeName(), m_id);
}
