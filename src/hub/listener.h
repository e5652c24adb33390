#pragma once

#include "hub_options.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/socket_base.hpp>

namespace mc::hub {

// Opens `acceptor` listening on `where`; on POSIX the address is reused at
// once, so a restarted hub gets its port back while old connections linger.
// The error says why it could not.
inline boost::system::error_code openListener(boost::asio::ip::tcp::acceptor& acceptor, const ListenAddress& where) {
    using boost::asio::ip::tcp;
    boost::system::error_code error;
    const auto address = boost::asio::ip::make_address(where.host, error);
    if (error) {
        return error;
    }
    const tcp::endpoint endpoint(address, where.port);
    acceptor.open(endpoint.protocol(), error);
#ifndef _WIN32
    // On Windows the same option would let another program bind the port
    // beside the hub and take its clients: not set there.
    if (!error) {
        acceptor.set_option(tcp::acceptor::reuse_address(true), error);
    }
#endif
    if (!error) {
        acceptor.bind(endpoint, error);
    }
    if (!error) {
        acceptor.listen(boost::asio::socket_base::max_listen_connections, error);
    }
    return error;
}

} // namespace mc::hub
