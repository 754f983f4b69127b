#!/usr/bin/python3
"""Writes the demo destination, its ODBC configuration, the demo workbooks and demo settings.

Usage: make_demo.py DIR DDL_FILE SQLITE_ODBC_DRIVER

Everything is generated from fixed seeds, so two runs give the same workbooks. The database is
recreated empty on every run.
"""
import os
import random
import sqlite3
import sys

import xlwt

DSN = "KordbDemo"
DB_NAME = "kordb_demo.db"
CLEAN_BOOK = "kordb_demo.xls"
FAULTS_BOOK = "kordb_demo_faults.xls"

# Departments (ClassCode1 of an item) and brands (ClassCode2), as the class sheet lists them.
DEPARTMENTS = [
    ("BEV", "Beverages / Minuman / 饮料"),
    ("DRY", "Dry Groceries / Barang Kering"),
    ("DAI", "Dairy & Chilled / Tenusu"),
    ("BAK", "Bakery / Roti & Kek / 面包"),
    ("FRZ", "Frozen Food / Makanan Sejuk Beku"),
    ("SNK", "Snacks & Confectionery / Snek"),
    ("HHC", "Household Care / Penjagaan Rumah"),
    ("PCR", "Personal Care / Penjagaan Diri"),
    ("FRU", "Fruit & Vegetables / Buah & Sayur"),
    ("INT", "International Délicatessen"),
]
BRANDS = [
    ("BR-ALPEN", "Alpenrose Laiterie"),
    ("BR-BONJ", "Bonjour Pâtisserie"),
    ("BR-CHENG", "Cheng Kee 正记"),
    ("BR-DEWI", "Dewi Sri Nusantara"),
    ("BR-EVER", "Evergreen Farms"),
    ("BR-FUJI", "Fujiya 不二家"),
    ("BR-GOLD", "Golden Harvest"),
    ("BR-HANS", "Hansen & Søn"),
    ("BR-KALI", "Kalimantan Emas"),
    ("BR-LOTUS", "Lotus Thai ดอกบัว"),
    ("BR-MURU", "Murugan Foods முருகன்"),
    ("BR-NORD", "Nordić Dairy"),
    ("BR-OLIVA", "Oliva Ελληνική"),
    ("BR-PUSH", "Pushkin Молочная"),
    ("BR-SEOUL", "Seoul Kitchen 서울"),
]

# Base names per department; sizes and variants multiply them into a few hundred items.
PRODUCTS = {
    "BEV": [
        "Kopi O Kaw 南洋咖啡",
        "Teh Tarik Premium",
        "Café au Lait",
        "Milo Ais Kotak",
        "Air Mineral Gunung",
        "Jus Oren Segar",
        "绿茶 Green Tea",
        "Chá Gelado Limão",
        "Soda Limau Nipis",
        "Sirap Bandung Rose",
        "Mother's Barley Drink",
    ],
    "DRY": [
        "Beras Wangi Siam ข้าวหอมมะลิ",
        "白米 Jasmine Rice",
        "Tepung Gandum",
        "Gula Pasir Halus",
        "Minyak Masak Sawit",
        "Kicap Manis Cap Kipas",
        "Sos Cili Pedas",
        "Mee Kuning Kering",
        "Bihun Beras",
        "Crème de Marrons",
        "Gochujang 고추장",
    ],
    "DAI": [
        "Susu Segar Penuh",
        "Γιαούρτι Greek Yoghurt",
        "Молоко Milk 3.2%",
        "Crème Fraîche",
        "Gruyère Käse",
        "Mentega Tanpa Garam",
        "Keju Cheddar Hirisan",
        "Yakult 益力多",
        "Smørbrød Butter",
    ],
    "BAK": [
        "Roti Putih Gardenia",
        "Croissant au Beurre",
        "Pain de Mie Complet",
        "Kek Lapis Sarawak",
        "Pão de Queijo",
        "Brötchen Mehrkorn",
        "Kaya Puff",
        "菠萝包 Pineapple Bun",
    ],
    "FRZ": [
        "Karipap Sejuk Beku",
        "Nugget Ayam",
        "Jalapeño Poppers",
        "Gyoza ギョーザ",
        "Dim Sum Har Gow 虾饺",
        "Roti Canai Frozen",
        "Pelmeni Пельмени",
        "Aiskrim Durian",
    ],
    "SNK": [
        "Kerepek Pisang",
        "Murukku முறுக்கு",
        "Kacang Goreng Cap Ayam",
        "Chocolat Noir 70%",
        "Biskut Marie",
        "Keropok Lekor",
        "Wafer Crème Brûlée",
        "ポテトチップス Potato Chips",
    ],
    "HHC": [
        "Sabun Basuh Cecair",
        "Pencuci Pinggan Lemon",
        "Tisu Dapur",
        "Pewangi Pakaian Lavande",
        "Ubat Nyamuk Lingkar",
        "Beg Sampah Hitam",
    ],
    "PCR": [
        "Syampu Halia",
        "Ubat Gigi Herba",
        "Sabun Mandi Sérum",
        "Losyen Badan Aloe",
        "Minyak Angin 风油精",
        "Pencuci Muka Naïve",
    ],
    "FRU": [
        "Pisang Berangan",
        "Betik Sekaki",
        "Sayur Sawi Hijau",
        "Bawang Merah India",
        "Cili Padi",
        "Durian Musang King 猫山王",
        "Tomate Cœur de Bœuf",
    ],
    "INT": [
        "Jamón Serrano",
        "Pâté de Campagne",
        "Kimchi 김치",
        "Tahini طحينة",
        "Feta Φέτα",
        "Umeboshi 梅干し",
        "Borscht Борщ",
    ],
}
SIZES = {
    "BEV": [("250ml", "BTL"), ("1L", "BTL"), ("6x330ml", "PKT"), ("24x250ml", "CTN")],
    "DRY": [("1kg", "PKT"), ("5kg", "PKT"), ("10kg", "BAG")],
    "DAI": [("200g", "PCS"), ("500g", "PCS"), ("1kg", "PCS")],
    "BAK": [("1pc", "PCS"), ("4pcs", "PKT"), ("400g", "PKT"), ("Family 800g", "PKT")],
    "FRZ": [("500g", "PKT"), ("1kg", "PKT"), ("20pcs", "PKT"), ("Family 2kg", "PKT")],
    "SNK": [("60g", "PKT"), ("150g", "PKT"), ("Tin 400g", "TIN"), ("Family 300g", "PKT")],
    "HHC": [("500ml", "BTL"), ("2L", "BTL"), ("Refill 1.5L", "PKT")],
    "PCR": [("100ml", "BTL"), ("250ml", "BTL"), ("Travel 30ml", "PCS")],
    "FRU": [("per kg", "KG"), ("Pack 500g", "PKT")],
    "INT": [("100g", "PCS"), ("250g", "PCS"), ("Jar 400g", "JAR"), ("Catering 1kg", "PCS")],
}

ITEM_COLUMNS = (
    ["ItemCode", "ItemName", "AppCode", "PosDescription"]
    + ["PosDescription%d" % n for n in range(1, 11)]
    + ["ClassCode%d" % n for n in range(1, 11)]
    + ["BasedMeasure", "BasedUnitPrice", "BasedUnitCost", "MinBasedUnitPrice", "MaxBasedUnitPrice"]
    + ["WarningQty", "ReorderQty", "MaxQty", "MinQty"]
    + ["AdvPrice%d" % n for n in range(1, 31)]
    + ["DefCreditorCode", "PluCode"]
)
CLASS_COLUMNS = ["ClassCode", "ClassName", "ClassTypeCode", "AppCode"]
PARTY_COLUMNS = (
    ["Name", "GLCode", "AreaCode"]
    + ["Address%d" % n for n in range(1, 5)]
    + ["DeliveryAddress%d" % n for n in range(1, 5)]
    + ["ContactPerson", "TelephoneNo", "HandphoneNo", "EmailAddress", "Website"]
    + ["CreditLimit", "CreditTerm", "CJ5No", "FaxNo", "PaymentTerm"]
)

DEBTOR_NAMES = [
    "Kedai Runcit Ah Seng 亚成杂货店",
    "Café Lumière Sdn Bhd",
    "Syarikat Perniagaan Muthu முத்து",
    "Restoran Nasi Kandar Pelita",
    "Mini Market Seri Intan",
    "Bäckerei Müller (M) Sdn Bhd",
    "Hotel Équateur Kuala Lumpur",
    "Koperasi Sekolah Tunas Bakti",
    "Warung Mak Jah",
    "Ocean Seafood 海洋海鲜楼",
    "Kantin Hospital Ampang",
    "Pâtisserie Belle Époque",
    "Tokyo Mart 東京マート",
    "Kedai Kopi Hock Chuan",
    "Bistro São Paulo",
    "Pasar Mini D'Kampung",
    "Seoul Garden 서울가든",
    "Syarikat Athens Όλυμπος Trading",
    "Stolovaya Rus Столовая",
    "Thai Orchid ร้านกล้วยไม้",
]
CREDITOR_NAMES = [
    "Alpenrose Laiterie SA",
    "Cheng Kee Food Industries 正记食品",
    "Dewi Sri Nusantara Bhd",
    "Evergreen Farms Plantation",
    "Fujiya Trading 不二家",
    "Golden Harvest Rice Mill",
    "Hansen & Søn Import",
    "Kalimantan Emas Distributors",
    "Lotus Thai Export ดอกบัว",
    "Murugan Foods முருகன் Sdn Bhd",
    "Nordić Dairy Cooperative",
    "Oliva Ελληνική Εξαγωγή",
    "Pushkin Молочная Компания",
    "Seoul Kitchen 서울 Foods",
    "Boulangerie Générale",
]
AREAS = ["KL", "PJ", "PG", "JB", "IPH", "KCH", "KK", "MLK"]
TOWNS = [
    ("Kuala Lumpur", "50450"),
    ("Petaling Jaya", "46100"),
    ("George Town, Pulau Pinang", "10200"),
    ("Johor Bahru", "80000"),
    ("Ipoh, Perak", "30000"),
    ("Kuching, Sarawak", "93000"),
    ("Kota Kinabalu, Sabah", "88000"),
    ("Melaka", "75000"),
]
STREETS = ["Jalan Bukit Bintang", "Jalan Ampang", "Lorong Kulit", "Jalan Tun Razak",
           "Jalan Sultan Ismail", "Persiaran Gurney", "Jalan Ibrahim", "Jalan Padang"]
PEOPLE = ["Tan Ah Kow", "Siti Nurhaliza bt Ahmad", "Muthusamy a/l Rajan", "José Gonçalves",
          "Zoë Müller", "Lim Mei Ling 林美玲", "Kim Ji-woo 김지우", "Ioannis Papadopoulos",
          "Olga Ivanova Ольга", "Somchai Jaidee สมชาย"]


def ean13(body12):
    """body12 with its EAN-13 check digit appended."""
    total = sum(int(d) * (3 if i % 2 else 1) for i, d in enumerate(body12))
    return body12 + str((10 - total % 10) % 10)


def money(x):
    return round(x * 20) / 20  # to 5 sen, as shelf prices are


def item_rows(rng, creditors):
    brands = [b for b, _ in BRANDS]
    rows = []
    for dept, _ in DEPARTMENTS:
        n = 0
        for base in PRODUCTS[dept]:
            for size, measure in SIZES[dept]:
                n += 1
                code = "%s%04d" % (dept, n)
                name = "%s %s" % (base, size)
                cost = money(rng.uniform(0.8, 60.0))
                price = money(cost * rng.uniform(1.15, 1.45))
                row = dict.fromkeys(ITEM_COLUMNS)
                row.update(
                    ItemCode=code,
                    ItemName=name,
                    # An empty AppCode shows the "NIL" default.
                    AppCode=None if n % 7 == 0 else "POS",
                    # Short till texts for most items; the others fall back to the name.
                    PosDescription=None if n % 3 == 0 else name[:30],
                    ClassCode1=dept,
                    ClassCode2=rng.choice(brands),
                    BasedMeasure=measure,
                    BasedUnitPrice=price,
                    BasedUnitCost=cost,
                    MinBasedUnitPrice=money(cost * 1.05),
                    MaxBasedUnitPrice=money(price * 1.2),
                    WarningQty=rng.choice([5, 10, 20]),
                    ReorderQty=rng.choice([24, 48, 96]),
                    MaxQty=rng.choice([200, 500, 1000]),
                    MinQty=rng.choice([10, 12, 24]),
                    # Member price for most items, a wholesale price for some.
                    AdvPrice1=money(price * 0.95) if n % 4 else None,
                    AdvPrice2=money(price * 0.9) if n % 5 == 0 else None,
                    DefCreditorCode=None if n % 11 == 0 else rng.choice(creditors),
                    # Loose produce has no bar code: its item code serves as the look-up code.
                    PluCode=None if measure == "KG" else ean13("955%09d" % rng.randrange(10**9)),
                )
                if n % 6 == 0:
                    row["PosDescription1"] = base.split(" ")[0][:20] + " " + size
                rows.append(row)
    # Bar codes must be unique in a clean workbook.
    seen = set()
    for row in rows:
        while row["PluCode"] is not None and row["PluCode"] in seen:
            row["PluCode"] = ean13("955%09d" % rng.randrange(10**9))
        seen.add(row["PluCode"])
    return rows


def party_rows(rng, prefix, names):
    rows = []
    for i, name in enumerate(names, start=1):
        town, postcode = TOWNS[i % len(TOWNS)]
        street = "%d, %s" % (rng.randrange(1, 250), STREETS[i % len(STREETS)])
        row = dict.fromkeys(PARTY_COLUMNS)
        row.update(
            Name=name,
            GLCode=None if i % 5 == 0 else "%s-%03d" % ("3000" if prefix == "D" else "4000", i),
            AreaCode=None if i % 6 == 0 else AREAS[i % len(AREAS)],
            Address1=street,
            Address2="Taman Perindustrian %s" % chr(64 + i % 26 + 1) if i % 2 else None,
            Address3="%s %s" % (postcode, town),
            Address4="Malaysia",
            ContactPerson=PEOPLE[i % len(PEOPLE)],
            TelephoneNo="03-%04d %04d" % (rng.randrange(10**4), rng.randrange(10**4)),
            HandphoneNo="01%d-%07d" % (rng.randrange(10), rng.randrange(10**7)),
            EmailAddress="accounts%02d@example.com.my" % i,
            Website="www.example%02d.com.my" % i if i % 3 == 0 else None,
            CreditLimit=rng.choice([1000, 5000, 10000, 25000, 50000]),
            CreditTerm=rng.choice([0, 7, 30, 60]),
            CJ5No="CJ5-%06d" % rng.randrange(10**6) if i % 4 == 0 else None,
            FaxNo="03-%04d %04d" % (rng.randrange(10**4), rng.randrange(10**4)) if i % 2 else None,
            # An empty payment term is stored as 0.
            PaymentTerm=None if i % 4 == 1 else rng.choice([14, 30, 45, 60]),
        )
        if i % 3 == 0:
            row.update(DeliveryAddress1="Gudang %d, %s" % (i, STREETS[(i + 3) % len(STREETS)]),
                       DeliveryAddress3="%s %s" % TOWNS[(i + 1) % len(TOWNS)][::-1],
                       DeliveryAddress4="Malaysia")
        rows.append(("%s%04d" % (prefix, i), row))
    return rows


def class_rows():
    rows = [[code, name, "DEPT", "POS"] for code, name in DEPARTMENTS]
    # Brands without an AppCode show the "NIL" default.
    rows += [[code, name, "BRAND", None] for code, name in BRANDS]
    return rows


def write_sheet(book, name, header, rows):
    ws = book.add_sheet(name)
    for c, title in enumerate(header):
        ws.write(0, c, title)
    for r, row in enumerate(rows, start=1):
        for c, value in enumerate(row):
            if value is not None:
                ws.write(r, c, value)


def write_clean(path):
    rng = random.Random(7)
    creditors = [code for code, _ in party_rows(random.Random(0), "C", CREDITOR_NAMES)]
    items = item_rows(rng, creditors)
    book = xlwt.Workbook(encoding="utf-8")
    write_sheet(book, "KINV_MT_ITEM", ITEM_COLUMNS, [[r[c] for c in ITEM_COLUMNS] for r in items])
    write_sheet(book, "KINV_MT_CLASS", CLASS_COLUMNS, class_rows())
    for sheet, prefix, key, names in (
        ("KLED_MT_DEBTOR", "D", "Debtor", DEBTOR_NAMES),
        ("KLED_MT_CREDITOR", "C", "Creditor", CREDITOR_NAMES),
    ):
        header = [key + "Code", key + "Name"] + PARTY_COLUMNS[1:]
        rows = [[code] + [row[c] for c in PARTY_COLUMNS] for code, row in
                party_rows(random.Random(1 if prefix == "D" else 0), prefix, names)]
        write_sheet(book, sheet, header, rows)
    book.save(path)
    return len(items)


def write_faults(path):
    rng = random.Random(11)
    items = item_rows(rng, ["C0001", "C0002"])[:24]
    by_code = {r["ItemCode"]: r for r in items}

    def copy_of(code, **changes):
        row = dict(by_code[code])
        row.update(changes)
        return row

    # An item row whose code was left empty.
    items.insert(3, copy_of("BEV0004", ItemCode=None, ItemName="Carton tanpa label"))
    # The same item code on two different products.
    items.append(copy_of("BEV0002", ItemName="Teh Tarik Premium 500ml (duplicate code)",
                         PluCode=ean13("955000000002")))
    # The same item entered twice with the same bar code.
    items.append(copy_of("BEV0006"))
    # A code typed with a trailing blank.
    by_code["BEV0009"]["ItemCode"] = "BEV0009 "

    classes = class_rows()[:6]
    classes.insert(2, [None, "Kelas tanpa kod", "DEPT", "POS"])  # empty key
    classes.append(["KID'S", "Kids' Corner", "DEPT", "POS"])  # apostrophe in a code

    book = xlwt.Workbook(encoding="utf-8")
    write_sheet(book, "KINV_MT_ITEM", ITEM_COLUMNS, [[r[c] for c in ITEM_COLUMNS] for r in items])
    write_sheet(book, "KINV_MT_CLASS", CLASS_COLUMNS, classes)
    book.save(path)


def write_database(path, ddl_file):
    for suffix in ("", "-journal", "-wal", "-shm"):
        if os.path.exists(path + suffix):
            os.remove(path + suffix)
    with open(ddl_file, encoding="utf-8") as f:
        ddl = f.read()
    con = sqlite3.connect(path)
    try:
        # The migration commits every row; in WAL mode a commit needs no sync of its own, which
        # makes the demo load take a second rather than ten.
        con.execute("PRAGMA journal_mode=WAL")
        con.executescript(ddl)
        con.commit()
    finally:
        con.close()


def write_odbc(folder, driver, db):
    with open(os.path.join(folder, "odbcinst.ini"), "w") as f:
        f.write("[SQLite3]\nDescription=SQLite3 ODBC Driver\nDriver=%s\n" % driver)
    # NoCreat: a mistyped database is refused, as a server would, instead of being created
    # empty.
    with open(os.path.join(folder, "odbc.ini"), "w") as f:
        f.write("[%s]\nDescription=Korvin demo destination (SQLite)\nDriver=SQLite3\n"
                "Database=%s\nNoCreat=1\n" % (DSN, db))


def write_settings(folder, db):
    os.makedirs(folder, exist_ok=True)
    path = os.path.join(folder, "KORDB.ini")
    # The store keeps a password: readable by its owner only, as the program writes it.
    fd = os.open(path, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o600)
    with os.fdopen(fd, "w") as f:
        f.write("[GeneralSetting]\ncServer=%s\nConnTable=%s\ncLogin=demo\ncPassword=demo\n"
                % (DSN, db))
    os.chmod(path, 0o600)


def main():
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    folder = os.path.abspath(sys.argv[1])
    ddl_file, driver = sys.argv[2], sys.argv[3]
    os.makedirs(folder, exist_ok=True)
    db = os.path.join(folder, DB_NAME)
    write_database(db, ddl_file)
    write_odbc(folder, driver, db)
    items = write_clean(os.path.join(folder, CLEAN_BOOK))
    write_faults(os.path.join(folder, FAULTS_BOOK))
    write_settings(os.path.join(folder, "settings"), db)
    print("# demo destination: %s (data source %s in %s/odbc.ini)" % (db, DSN, folder))
    print("# demo workbooks: %s (%d items), %s" % (
        os.path.join(folder, CLEAN_BOOK), items, os.path.join(folder, FAULTS_BOOK)))
    print("# demo settings: %s/settings/KORDB.ini (XDG_CONFIG_HOME=%s/settings)" % (folder, folder))


if __name__ == "__main__":
    main()
