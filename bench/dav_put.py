#!/usr/bin/python3
"""The floor of an import into a CardDAV server: PUTs the cards of FOLDER one after another (as
the importer sends them), each with If-None-Match: *, over one connection kept open where the
server allows it. Prints the seconds taken."""
import base64
import glob
import http.client
import os
import sys
import time
import urllib.parse

book, user, password, folder = sys.argv[1:5]
url = urllib.parse.urlsplit(book)
auth = "Basic " + base64.b64encode(f"{user}:{password}".encode()).decode()
cards = [(os.path.basename(p), open(p, "rb").read()) for p in sorted(glob.glob(os.path.join(folder, "*.vcf")))]
connection = None
start = time.monotonic()
for name, body in cards:
    for attempt in range(2):
        if connection is None:
            connection = http.client.HTTPConnection(url.hostname, url.port)
        try:
            connection.request("PUT", url.path + name, body, {"Authorization": auth, "If-None-Match": "*",
                                                              "Content-Type": "text/vcard; charset=utf-8"})
            response = connection.getresponse()
            response.read()
            if response.getheader("Connection", "").lower() == "close" or response.version == 10:
                connection.close()
                connection = None
            if response.status not in (201, 204):
                sys.exit(f"{name}: {response.status} {response.reason}")
            break
        except (http.client.RemoteDisconnected, ConnectionResetError, BrokenPipeError):
            connection.close()
            connection = None
print("%.3f" % (time.monotonic() - start))
