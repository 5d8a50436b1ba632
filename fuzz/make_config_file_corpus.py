#!/usr/bin/env python3
"""Writes the seed corpus of fuzz_config_file: valid files of each model and broken ones."""
import os

HERE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus", "config_file")
NAMES = {250: "Ловар-Т", 251: "Ловар-М", 252: "Ловар-Т"}
IMAGE = {250: 256, 251: 2048, 252: 256}


def config_file(model, header=100, image_bytes=None):
    head = bytearray(max(header, 2))
    head[0] = header
    head[1] = model
    if header > 2:
        head[2] = 1
    name = NAMES.get(model, "").encode("cp1251")[: max(header - 3, 0)]
    head[3 : 3 + len(name)] = name
    count = IMAGE.get(model, 256) if image_bytes is None else image_bytes
    return bytes(head) + bytes((i * 7 + 3) & 0xFF for i in range(count))


def main():
    os.makedirs(HERE, exist_ok=True)
    seeds = {
        "valid_250": config_file(250),
        "valid_251": config_file(251),
        "valid_252": config_file(252),
        "header_2_252": config_file(252, header=2),
        "header_50_251": config_file(251, header=50),
        "header_200_250": config_file(250, header=200),
        "header_0": config_file(250, header=0),
        "header_201": config_file(250, header=201),
        "header_only_251": config_file(251, image_bytes=0),
        "truncated_251": config_file(251, image_bytes=1000),
        "ends_in_header": config_file(250)[:40],
        "unknown_model": config_file(7),
        "trailing_bytes_250": config_file(250, image_bytes=300),
        "empty": b"",
    }
    for name, data in seeds.items():
        with open(os.path.join(HERE, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
