// Data: the base class of every record that tables and data providers hold.
//
// A plug-in derives its record classes from Data and adds plain fields:
//
//     struct IfRecord : Data {
//         int index = 0;
//         std::string descr;
//         void reverseBuild(orla::message& request) override;  // if settable
//     };
//
// Packers reach such a field through a member pointer of Data; field() below
// makes one from a member pointer of the record class:
//
//     new DataNumPacker(field(&IfRecord::index), ber::INTEGER);
//
// Rules for record classes:
// - Derive from Data publicly and non-virtually (a virtual base cannot be
//   reached by a member pointer conversion; field() then does not compile).
// - A packer built with field(&R::x) may only be given records that really
//   are R objects (created as R, or as a class derived from R). Giving it a
//   record of another class reads memory that is not the field.
// - Records are created with `new` and deleted, through the virtual
//   destructor, by the provider that owns them. A table never deletes one.
// - A null record means "no value" (data providers) or "no further row"
//   (tables).
#pragma once

#include <type_traits>

namespace orla {
class message;
}

class Data {
  public:
    virtual ~Data() = default;

    // Adds the record's settable fields to an outgoing set command before it
    // is sent to the platform service that owns the data. The base version
    // adds nothing.
    virtual void reverseBuild(orla::message& request);
};

// The member pointer of Data that names `member` of the record class R.
// Converting a member pointer from a derived class to its base is the
// direction the language defines (static_cast); the result is valid for
// objects whose dynamic type is R or derived from R.
template <class R, class T>
T Data::*field(T R::*member) {
    static_assert(std::is_base_of_v<Data, R>, "record classes derive from Data");
    return static_cast<T Data::*>(member);
}
