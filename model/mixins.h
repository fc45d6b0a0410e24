#pragma once

#include <QString>

#include <cstdint>

class QAction;
class QMenu;
class Property;

// Small capabilities shared by the project tree's entries and the floor-plan items. None of them
// is meant to be deleted through its own pointer, so their destructors are protected.

class HasName {
public:
    virtual QString name() const { return m_name; }
    virtual void setName(const QString& name) { m_name = name; }
    // The entry's own name, without any owner's name in front.
    const QString& ownName() const { return m_name; }

protected:
    ~HasName() = default;
    QString m_name;
};

// Fills a context menu and reacts to the chosen action, matched by the action's text.
class ActionReactive {
public:
    virtual void contextMenuActions(QMenu* menu) {}
    virtual void onContextAction(QAction* action) {}

protected:
    ~ActionReactive() = default;
};

// What the project tree lists.
class Itemizeable : public ActionReactive, public HasName {
protected:
    ~Itemizeable() = default;
    bool m_itemizeable = true;
};

// A numeric id unique per type word within one property, issued lazily by the owning property.
class HasUniqueId {
public:
    // The property that issues ids for this object, or null while it has none.
    virtual Property* idRegistry() const = 0;
    virtual QString typeName() const = 0;

    // The held id; without one, issues the next id of the type word (0 while there is no registry).
    uint32_t uniqueId();
    // Stores the id and registers it, so that ids issued later never collide with it.
    void setUniqueId(uint32_t id);
    // The held id without issuing one (0 = none yet).
    uint32_t storedId() const { return m_id; }

protected:
    ~HasUniqueId() = default;
    uint32_t m_id = 0;
};

class HideableOnPortal {
public:
    virtual void setShown(bool on) { m_shown = on; }
    virtual bool isShown(bool ownOnly = false) const { return m_shown; }

protected:
    ~HideableOnPortal() = default;
    bool m_shown = false;
};
