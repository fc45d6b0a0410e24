#include "model/panorama.h"

void Panorama::appendTag(Tag tag)
{
    tag.setIdRegistry(idRegistry());
    tag.uniqueId();
    m_tags.append(tag);
}
