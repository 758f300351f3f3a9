# FTP server for the relayo2 tests: serves ROOT on 127.0.0.1 for USER/PASSWORD with write rights, on a
# port the system picks, and prints that port on the first line of its output once it listens.
# Usage: /usr/bin/python3 testftpserver.py ROOT USER PASSWORD
import logging
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer

root, user, password = sys.argv[1], sys.argv[2], sys.argv[3]
logging.basicConfig(level=logging.WARNING)
authorizer = DummyAuthorizer()
authorizer.add_user(user, password, root, perm="elradfmwMT")
handler = FTPHandler
handler.authorizer = authorizer
server = FTPServer(("127.0.0.1", 0), handler)
print(server.address[1], flush=True)
server.serve_forever()
